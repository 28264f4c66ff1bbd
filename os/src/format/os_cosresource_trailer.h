// The resource trailer: named data blocks appended to a file behind its
// untouched base body, and the 3584 bytes at the file's end that list them.
//
// Layout, little-endian: bytes 0..55 reserved; slot n (1..62) at n * 56:
// name (32 bytes, NUL-terminated), data offset from the start of the file
// (u64), data size (u64), 8 reserved bytes; the marker "@!@qrx@!@"
// zero-padded to 32 bytes at 3528; 24 reserved bytes. Slots are used from
// 62 downward without gaps; the blocks follow the base body in that order
// (slot 62's first) and the trailer follows the last block.
//
// Everything here works on caller buffers: the reader judges a file's last
// bytes against the file's size before anybody reads or cuts anything, and
// the planner builds an update's new tail in memory.
#pragma once

#include <cstdint>

#include "os_sts.h"

constexpr std::uint32_t OS_TRAILER_SIZE = 3584;
constexpr std::uint32_t OS_TRAILER_SLOT_SIZE = 56;
constexpr int OS_TRAILER_SLOTS = 62;
constexpr std::uint32_t OS_TRAILER_NAME_SIZE = 32;
constexpr std::uint32_t OS_TRAILER_OFFSET_FIELD = 32;
constexpr std::uint32_t OS_TRAILER_SIZE_FIELD = 40;
constexpr std::uint32_t OS_TRAILER_MARKER_OFFSET = 3528;
constexpr char OS_TRAILER_MARKER[] = "@!@qrx@!@";

struct OsResourceTrailer {
  // The trailer as stored; for a file without one, zeros with the marker.
  std::uint8_t m_au8Image[OS_TRAILER_SIZE];
  bool m_bPresent;              // the file ends in a trailer
  int m_iCount;                 // slots in use: 62 down to 63 - m_iCount
  std::uint64_t m_u64Base;      // the base body's length, where the first block starts
  std::uint64_t m_u64FileSize;  // the whole file
};

// Judges the file's last bytes (a_u32Last of them: 3584, or the whole file
// when it is shorter) against its size. 0 with m_bPresent false when the
// marker is missing or the trailer lists no block (the blocks of an update
// then start at the file's end); 0 with the slots when the trailer is sound;
// 1 (logged) when it is not: a name without its terminator, a slot after an
// empty one, a block that does not start where the one before it (or the
// base body) ends, or one that reaches into the trailer, and a trailer that
// does not follow the last block.
EOSSTS OsResourceTrailerParse(const std::uint8_t* a_pu8Last, std::uint32_t a_u32Last, std::uint64_t a_u64FileSize,
                              OsResourceTrailer* a_posresourcetrailer);

// Slot a_iSlot (1..62) of a trailer image.
const char* OsResourceTrailerName(const OsResourceTrailer& a_osresourcetrailer, int a_iSlot);
std::uint64_t OsResourceTrailerOffset(const OsResourceTrailer& a_osresourcetrailer, int a_iSlot);
std::uint64_t OsResourceTrailerBlockSize(const OsResourceTrailer& a_osresourcetrailer, int a_iSlot);

// The layout after an update.
struct OsResourceTrailerPlan {
  OsResourceTrailer m_osresourcetrailer;  // the new trailer
  // Per slot of the new list: the old slot whose block it keeps, or 0 for
  // the caller's new bytes.
  int m_aiSource[OS_TRAILER_SLOTS + 1];
  int m_iSelected;              // the slot that takes the new bytes (0: none)
  std::uint64_t m_u64TailSize;  // blocks and trailer behind the base body (0 when no slot is left)
};

// Plans writing a_u32Size bytes under a_szName (at most 31 bytes are kept;
// names are compared without ASCII case), or removing the name when
// a_u32Size is 0. A found name keeps its slot and takes the new block; a
// removed slot's followers move up by one; a new name takes the first free
// slot from 62 down: 1 with "no free slots..." when all 62 are used. A name
// that is absent and not written leaves the layout as it is.
EOSSTS OsResourceTrailerPlanUpdate(const OsResourceTrailer& a_osresourcetrailer, const char* a_szName,
                                   std::uint32_t a_u32Size, OsResourceTrailerPlan* a_posresourcetrailerplan);

// Builds the new tail into a_pu8Out (exactly m_u64TailSize bytes): every
// block in slot order, kept ones taken from a_pu8OldTail (the old file from
// its base body's end on, a_u64OldTail bytes) and the selected one from
// a_pu8Bytes, then the trailer. 1 (logged) when a kept block lies outside
// the old tail or the sizes disagree with the plan.
EOSSTS OsResourceTrailerBuildTail(const OsResourceTrailer& a_osresourcetrailer, const std::uint8_t* a_pu8OldTail,
                                  std::uint64_t a_u64OldTail, const OsResourceTrailerPlan& a_osresourcetrailerplan,
                                  const std::uint8_t* a_pu8Bytes, std::uint8_t* a_pu8Out, std::uint64_t a_u64Out);
