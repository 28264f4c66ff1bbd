// Test controls of the host back end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Log lines ("file mark text") are appended to *a_pvecLines until called
// with null.
void OsHostLogCapture(std::vector<std::string>* a_pvecLines);
// The mask OsLogGetDebug reports (0: informational lines are not prepared).
void OsHostLogSetDebug(std::uint32_t a_u32Mask);
// The number of allocations the engines have asked for so far.
std::uint64_t OsHostMemAllocations();
