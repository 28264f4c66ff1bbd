// Threads and processes.
#pragma once

// The integrity class of the running process, found once and cached:
// 1 below medium in the browser's protected mode, 2 below medium (also when
// the token cannot be read), 3 medium in protected mode, 4 medium, 5 high or
// system in protected mode, 6 high or system.
int OsProcessIntegrityGet();

#include <cstdint>

#include "os_sts.h"

// The processor-affinity mask that threads started later take (0: none).
void OsThreadSetDefaultAffinity(std::uint64_t a_u64Mask);
std::uint64_t OsThreadGetDefaultAffinity();
// Stores the default and, with more than one processor, applies it to the
// calling thread (0 means the process's mask, or the system's when that is
// 0): its ideal processor becomes a_u64Mask - 1, then its affinity the mask.
// 0, or 1 when the system refuses either.
EOSSTS OsThreadApplyDefaultAffinity(std::uint64_t a_u64Mask);
