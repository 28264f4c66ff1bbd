// What the container's reader shares with the transform's file.
#pragma once

#include <cstdint>

// Entries of the table BWTUntransformBlock walks, for a block of a_u32Length
// bytes (two 16-bit tables of a block's length).
constexpr std::uint32_t OsBwtUntransformEntries(std::uint32_t a_u32Length) { return 2 * a_u32Length; }

// The inverse transform of a block of 1..65536 bytes whose primary index is
// a row of the column, with the caller's table (a reader decoding many
// blocks allocates it once).
void BWTUntransformBlock(std::uint8_t* a_pu8Output, const std::uint8_t* a_pu8Column, std::uint32_t a_u32Length,
                         std::uint32_t a_u32PrimaryIndex, std::uint16_t* a_pu16Table);

// Whether move-to-front decoding may shuffle bytes where the processor can
// (true; tests turn it off, between calls, to run the other list on the
// same machine). OsMtfShuffles says whether a decoding now would.
extern bool g_bOsMtfShuffle;
bool OsMtfShuffles();
