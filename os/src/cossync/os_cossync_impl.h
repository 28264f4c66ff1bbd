// The implementation record of a synchronisation object and the layout of
// the group table that members of a group share through a mapped file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os_cossync.h"
#include "os_types.h"
#include "os_win.h"

constexpr int OS_SYNC_GROUP_ROWS = 8;
constexpr int OS_SYNC_NAME_SIZE = 260;

// The shared table, 2128 bytes little-endian on both targets: a 32-bit and a
// 64-bit member share one. Handles are stored as the registering process
// sees them (4 bytes hold every handle value Windows gives out); they mean
// nothing in another process, so waiters open the rows by name instead.
struct OsSyncGroup {
  std::uint64_t m_u64Size;                         // 2128, written by the creator
  std::uint32_t m_u32Lock;                         // spin lock word
  std::uint32_t m_au32Handle[OS_SYNC_GROUP_ROWS];  // 0: a free row
  char m_aszName[OS_SYNC_GROUP_ROWS][OS_SYNC_NAME_SIZE];
  std::uint32_t m_u32Reserved;
};
constexpr std::uint32_t OS_SYNC_GROUP_SIZE = 2128;
static_assert(sizeof(OsSyncGroup) == OS_SYNC_GROUP_SIZE);
static_assert(offsetof(OsSyncGroup, m_u32Lock) == 8);
static_assert(offsetof(OsSyncGroup, m_au32Handle) == 12);
static_assert(offsetof(OsSyncGroup, m_aszName) == 44);
static_assert(offsetof(OsSyncGroup, m_u32Reserved) == 2124);

enum EOSSYNCUSAGE : std::uint32_t { OS_SYNCUSAGE_FREE = 0, OS_SYNCUSAGE_CREATED = 1, OS_SYNCUSAGE_OPENED = 2 };

// This process's own handle to another member of the group, kept while the
// row names the same object (name and stored value unchanged).
struct OsSyncRowHandle {
  HANDLE m_h;                 // null: not opened (the row is skipped)
  std::uint32_t m_u32Stored;  // the row's stored value when opened, 0: none
  bool m_bSaid;               // the failed open has been logged
  char m_szName[OS_SYNC_NAME_SIZE];
};

class COsSyncImpl {
 public:
  std::uint32_t m_u32Usage;
  EOSSYNCNAMING m_eossyncnaming;
  char m_szName[OS_SYNC_NAME_SIZE];
  char m_szGroup[OS_SYNC_NAME_SIZE];
  std::uint64_t m_u64ProcessId;  // the watched process, 0: none
  std::uint64_t m_u64ThreadId;   // the thread that created or opened the object
  EOSSYNCTYPE m_eossynctype;
  std::uint32_t m_u32Created;
  HANDLE m_handle;
  HANDLE m_hProcess;
  std::uint64_t m_u64GroupSlot;  // this object's row
  OsSyncGroup* m_possyncgroupShared;
  OsSyncGroup* m_possyncgroupSnapshot;  // private copy taken under the table's lock
  std::uint8_t m_u8ProcessBorrowed;
  // Whether this object holds a row of the table.
  bool m_bHasRow;
  OsSyncRowHandle m_aoshRow[OS_SYNC_GROUP_ROWS];
};
