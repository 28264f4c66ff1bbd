// The resource trailer's reader and update planner, over caller buffers.
#include "os_cosresource_trailer.h"

#include <cstddef>
#include <cstring>

#include "os_log.h"

namespace {

constexpr std::size_t OS_TRAILER_MARKER_LENGTH = sizeof(OS_TRAILER_MARKER) - 1;

std::uint64_t Get64(const std::uint8_t* a_pu8) {
  std::uint64_t l_u64 = 0;
  for (int l_i = 7; l_i >= 0; --l_i) l_u64 = (l_u64 << 8) | a_pu8[l_i];
  return l_u64;
}

void Put64(std::uint8_t* a_pu8, std::uint64_t a_u64) {
  for (int l_i = 0; l_i < 8; ++l_i) a_pu8[l_i] = static_cast<std::uint8_t>(a_u64 >> (8 * l_i));
}

const std::uint8_t* Slot(const OsResourceTrailer& a_osresourcetrailer, int a_iSlot) {
  return a_osresourcetrailer.m_au8Image + static_cast<std::size_t>(a_iSlot) * OS_TRAILER_SLOT_SIZE;
}
std::uint8_t* Slot(OsResourceTrailer& a_osresourcetrailer, int a_iSlot) {
  return a_osresourcetrailer.m_au8Image + static_cast<std::size_t>(a_iSlot) * OS_TRAILER_SLOT_SIZE;
}

// The image of a file without a trailer: zeros and the marker.
void Fresh(OsResourceTrailer& a_osresourcetrailer) {
  std::memset(a_osresourcetrailer.m_au8Image, 0, OS_TRAILER_SIZE);
  std::memcpy(a_osresourcetrailer.m_au8Image + OS_TRAILER_MARKER_OFFSET, OS_TRAILER_MARKER, OS_TRAILER_MARKER_LENGTH);
}

// The slots in use run from 62 down to this one (63 when there are none).
int Lowest(const OsResourceTrailer& a_osresourcetrailer) { return OS_TRAILER_SLOTS + 1 - a_osresourcetrailer.m_iCount; }

char Lower(char a_c) { return a_c >= 'A' && a_c <= 'Z' ? static_cast<char>(a_c - 'A' + 'a') : a_c; }

bool SameName(const char* a_szA, const char* a_szB) {
  for (; *a_szA != 0 && Lower(*a_szA) == Lower(*a_szB); ++a_szA, ++a_szB) {
  }
  return *a_szA == 0 && *a_szB == 0;
}

// A name as a slot keeps it: its first 31 bytes.
void SlotName(const char* a_szName, char (&a_szSlotName)[OS_TRAILER_NAME_SIZE]) {
  std::size_t l_sizet = 0;
  for (; a_szName[l_sizet] != 0 && l_sizet + 1 < OS_TRAILER_NAME_SIZE; ++l_sizet)
    a_szSlotName[l_sizet] = a_szName[l_sizet];
  a_szSlotName[l_sizet] = 0;
}

}  // namespace

const char* OsResourceTrailerName(const OsResourceTrailer& a_osresourcetrailer, int a_iSlot) {
  return reinterpret_cast<const char*>(Slot(a_osresourcetrailer, a_iSlot));
}

std::uint64_t OsResourceTrailerOffset(const OsResourceTrailer& a_osresourcetrailer, int a_iSlot) {
  return Get64(Slot(a_osresourcetrailer, a_iSlot) + OS_TRAILER_OFFSET_FIELD);
}

std::uint64_t OsResourceTrailerBlockSize(const OsResourceTrailer& a_osresourcetrailer, int a_iSlot) {
  return Get64(Slot(a_osresourcetrailer, a_iSlot) + OS_TRAILER_SIZE_FIELD);
}

EOSSTS OsResourceTrailerParse(const std::uint8_t* a_pu8Last, std::uint32_t a_u32Last, std::uint64_t a_u64FileSize,
                              OsResourceTrailer* a_posresourcetrailer) {
  const std::uint64_t l_u64Last = a_u64FileSize < OS_TRAILER_SIZE ? a_u64FileSize : OS_TRAILER_SIZE;
  OS_RETURN_IF(a_posresourcetrailer == nullptr || (a_pu8Last == nullptr && a_u32Last > 0) || a_u32Last != l_u64Last,
               OS_LOG_ASSERT, "OsResourceTrailerParse: bad argument...", OS_STS_BADARG);
  OsResourceTrailer& l_trailer = *a_posresourcetrailer;
  l_trailer.m_bPresent = false;
  l_trailer.m_iCount = 0;
  l_trailer.m_u64Base = a_u64FileSize;
  l_trailer.m_u64FileSize = a_u64FileSize;
  if (a_u32Last < OS_TRAILER_SIZE ||
      std::memcmp(a_pu8Last + OS_TRAILER_MARKER_OFFSET, OS_TRAILER_MARKER, OS_TRAILER_MARKER_LENGTH) != 0) {
    Fresh(l_trailer);
    return OS_STS_SUCCESS;
  }
  std::memcpy(l_trailer.m_au8Image, a_pu8Last, OS_TRAILER_SIZE);

  int l_iCount = 0;
  bool l_bEnded = false;
  for (int l_iSlot = OS_TRAILER_SLOTS; l_iSlot >= 1; --l_iSlot) {
    const std::uint8_t* const l_pu8Slot = Slot(l_trailer, l_iSlot);
    if (std::memchr(l_pu8Slot, 0, OS_TRAILER_NAME_SIZE) == nullptr) {
      OS_LOGE("Damaged resource trailer, a slot's name has no terminator...<%d>", l_iSlot);
      return OS_STS_FAIL;
    }
    if (l_pu8Slot[0] == 0) {
      l_bEnded = true;
    } else if (l_bEnded) {
      OS_LOGE("Damaged resource trailer, a slot follows an empty one...<%d>", l_iSlot);
      return OS_STS_FAIL;
    } else {
      ++l_iCount;
    }
  }
  // A trailer that lists no block was not written here (removing the last
  // block removes the trailer too): its bytes are the file's own, and stay
  // in front of the blocks.
  if (l_iCount == 0) {
    Fresh(l_trailer);
    return OS_STS_SUCCESS;
  }
  // Every length is judged against the file before anybody trusts it.
  const std::uint64_t l_u64TrailerAt = a_u64FileSize - OS_TRAILER_SIZE;
  std::uint64_t l_u64At = OsResourceTrailerOffset(l_trailer, OS_TRAILER_SLOTS);
  if (l_u64At > l_u64TrailerAt) {
    OS_LOGE("Damaged resource trailer, the first block starts behind the trailer...<%llu>",
            static_cast<unsigned long long>(l_u64At));
    return OS_STS_FAIL;
  }
  l_trailer.m_u64Base = l_u64At;
  for (int l_iSlot = OS_TRAILER_SLOTS; l_iSlot > OS_TRAILER_SLOTS - l_iCount; --l_iSlot) {
    const std::uint64_t l_u64Size = OsResourceTrailerBlockSize(l_trailer, l_iSlot);
    if (OsResourceTrailerOffset(l_trailer, l_iSlot) != l_u64At) {
      OS_LOGE("Damaged resource trailer, a block does not start where the one before it ends...<%d>", l_iSlot);
      return OS_STS_FAIL;
    }
    if (l_u64Size > l_u64TrailerAt - l_u64At) {
      OS_LOGE("Damaged resource trailer, a block reaches into the trailer...<%d>", l_iSlot);
      return OS_STS_FAIL;
    }
    l_u64At += l_u64Size;
  }
  if (l_u64At != l_u64TrailerAt) {
    OS_LOGE("Damaged resource trailer, the trailer does not follow the last block...<%llu>",
            static_cast<unsigned long long>(l_u64At));
    return OS_STS_FAIL;
  }
  l_trailer.m_bPresent = true;
  l_trailer.m_iCount = l_iCount;
  return OS_STS_SUCCESS;
}

EOSSTS OsResourceTrailerPlanUpdate(const OsResourceTrailer& a_osresourcetrailer, const char* a_szName,
                                   std::uint32_t a_u32Size, OsResourceTrailerPlan* a_posresourcetrailerplan) {
  OS_RETURN_IF(a_szName == nullptr || a_szName[0] == 0 || a_posresourcetrailerplan == nullptr, OS_LOG_ASSERT,
               "OsResourceTrailerPlanUpdate: bad argument...", OS_STS_BADARG);
  const OsResourceTrailer& l_old = a_osresourcetrailer;
  OsResourceTrailerPlan& l_plan = *a_posresourcetrailerplan;
  OsResourceTrailer& l_new = l_plan.m_osresourcetrailer;
  l_new = l_old;
  for (int l_iSlot = 0; l_iSlot <= OS_TRAILER_SLOTS; ++l_iSlot) l_plan.m_aiSource[l_iSlot] = l_iSlot;
  l_plan.m_iSelected = 0;
  l_plan.m_u64TailSize = 0;

  char l_szName[OS_TRAILER_NAME_SIZE];
  SlotName(a_szName, l_szName);
  const int l_iLowest = Lowest(l_old);
  int l_iFound = 0;
  for (int l_iSlot = OS_TRAILER_SLOTS; l_iSlot >= l_iLowest && l_iFound == 0; --l_iSlot)
    if (SameName(OsResourceTrailerName(l_old, l_iSlot), l_szName)) l_iFound = l_iSlot;

  if (l_iFound != 0 && a_u32Size > 0) {
    l_plan.m_iSelected = l_iFound;
  } else if (l_iFound != 0) {
    // The slots after the removed one move up by one: the list stays contiguous.
    for (int l_iSlot = l_iFound; l_iSlot > l_iLowest; --l_iSlot) {
      std::memcpy(Slot(l_new, l_iSlot), Slot(l_old, l_iSlot - 1), OS_TRAILER_SLOT_SIZE);
      l_plan.m_aiSource[l_iSlot] = l_iSlot - 1;
    }
    std::memset(Slot(l_new, l_iLowest), 0, OS_TRAILER_SLOT_SIZE);
    --l_new.m_iCount;
  } else if (a_u32Size > 0) {
    if (l_old.m_iCount == OS_TRAILER_SLOTS) {
      OS_LOGE("no free slots...");
      return OS_STS_FAIL;
    }
    l_plan.m_iSelected = l_iLowest - 1;
    std::memset(Slot(l_new, l_plan.m_iSelected), 0, OS_TRAILER_SLOT_SIZE);
    std::memcpy(Slot(l_new, l_plan.m_iSelected), l_szName, std::strlen(l_szName));
    ++l_new.m_iCount;
  }
  if (l_plan.m_iSelected != 0) l_plan.m_aiSource[l_plan.m_iSelected] = 0;

  // Offsets and sizes, consecutive from the end of the base body.
  std::uint64_t l_u64At = l_old.m_u64Base;
  for (int l_iSlot = OS_TRAILER_SLOTS; l_iSlot >= Lowest(l_new); --l_iSlot) {
    const std::uint64_t l_u64Size =
        l_iSlot == l_plan.m_iSelected ? a_u32Size : OsResourceTrailerBlockSize(l_old, l_plan.m_aiSource[l_iSlot]);
    Put64(Slot(l_new, l_iSlot) + OS_TRAILER_OFFSET_FIELD, l_u64At);
    Put64(Slot(l_new, l_iSlot) + OS_TRAILER_SIZE_FIELD, l_u64Size);
    l_u64At += l_u64Size;
  }
  l_new.m_bPresent = l_new.m_iCount > 0;
  l_plan.m_u64TailSize = l_new.m_iCount > 0 ? l_u64At - l_old.m_u64Base + OS_TRAILER_SIZE : 0;
  l_new.m_u64FileSize = l_old.m_u64Base + l_plan.m_u64TailSize;
  return OS_STS_SUCCESS;
}

EOSSTS OsResourceTrailerBuildTail(const OsResourceTrailer& a_osresourcetrailer, const std::uint8_t* a_pu8OldTail,
                                  std::uint64_t a_u64OldTail, const OsResourceTrailerPlan& a_osresourcetrailerplan,
                                  const std::uint8_t* a_pu8Bytes, std::uint8_t* a_pu8Out, std::uint64_t a_u64Out) {
  const OsResourceTrailer& l_new = a_osresourcetrailerplan.m_osresourcetrailer;
  OS_RETURN_IF(a_u64Out != a_osresourcetrailerplan.m_u64TailSize || (a_pu8Out == nullptr && a_u64Out > 0) ||
                   (a_pu8OldTail == nullptr && a_u64OldTail > 0) ||
                   (a_pu8Bytes == nullptr && a_osresourcetrailerplan.m_iSelected != 0),
               OS_LOG_ASSERT, "OsResourceTrailerBuildTail: bad argument...", OS_STS_BADARG);
  std::uint64_t l_u64At = 0;
  for (int l_iSlot = OS_TRAILER_SLOTS; l_iSlot >= Lowest(l_new); --l_iSlot) {
    const std::uint64_t l_u64Size = OsResourceTrailerBlockSize(l_new, l_iSlot);
    const int l_iSource = a_osresourcetrailerplan.m_aiSource[l_iSlot];
    const std::uint8_t* l_pu8From = a_pu8Bytes;
    if (l_iSource != 0) {
      const std::uint64_t l_u64Offset = OsResourceTrailerOffset(a_osresourcetrailer, l_iSource);
      if (l_u64Offset < a_osresourcetrailer.m_u64Base || l_u64Offset - a_osresourcetrailer.m_u64Base > a_u64OldTail ||
          l_u64Size > a_u64OldTail - (l_u64Offset - a_osresourcetrailer.m_u64Base)) {
        OS_LOGE("A kept block lies outside the file...<%d>", l_iSource);
        return OS_STS_FAIL;
      }
      l_pu8From = a_pu8OldTail + (l_u64Offset - a_osresourcetrailer.m_u64Base);
    }
    if (l_u64Size > a_u64Out - l_u64At) {
      OS_LOGE("The blocks do not fit the new tail...<%d>", l_iSlot);
      return OS_STS_FAIL;
    }
    if (l_u64Size > 0) std::memcpy(a_pu8Out + l_u64At, l_pu8From, static_cast<std::size_t>(l_u64Size));
    l_u64At += l_u64Size;
  }
  if (l_new.m_iCount > 0) {
    if (a_u64Out - l_u64At != OS_TRAILER_SIZE) {
      OS_LOGE("The blocks do not fit the new tail...<%d>", 0);
      return OS_STS_FAIL;
    }
    std::memcpy(a_pu8Out + l_u64At, l_new.m_au8Image, OS_TRAILER_SIZE);
  }
  return OS_STS_SUCCESS;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
