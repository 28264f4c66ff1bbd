// The memory manager's implementation block and its tracking table.
#pragma once

#include "os_cosmem.h"
#include "os_cossync.h"
#include "os_win.h"

#include <psapi.h>

// One entry of the tracking table.
struct COsMemItem {
  EOSMEMTYPE m_eosmemtype;
  void* m_pvAddress;
  std::uint32_t m_u32Size;
  std::uint32_t m_u32Offset;    // mapped items
  std::uint32_t m_u32ViewSize;  // mapped items; the size for others
  char m_szName[OS_PATH_SIZE];
  std::uint32_t m_u32Flags;  // mapped items: bit 0 = file region locked
  HANDLE m_hFile;
  HANDLE m_hMapping;
};

class COsMemImpl {
 public:
  EOSMEMMETHOD m_eosmemmethod;
  std::uint32_t m_u32AC;  // allocation requests and registrations
  std::uint32_t m_u32CC;  // live blocks
  std::uint64_t m_u64CB;  // live bytes
  std::uint64_t m_u64PB;  // the peak of CB after an allocation
  std::uint32_t m_u32FC;  // releases
  std::uint32_t m_u32Owner;
  void* m_apvAddress[OS_MEM_TABLE_SIZE];  // 0 marks a free entry
  COsMemItem m_aitem[OS_MEM_TABLE_SIZE];
  std::uint32_t m_u32Granularity;
  volatile std::uint32_t m_u32Lock;
  std::uint32_t m_u32ShareMode;
  OsMemPfnAlloc m_pfnalloc;
  OsMemPfnFree m_pfnfree;
  OsMemPfnLock m_pfnlock;
  OsMemPfnUnlock m_pfnunlock;
};

// The tracking table's one entry point.
enum EOSMEMTRACKER : int {
  OS_MEM_TRACKER_ADD = 1,       // store an address in the first free entry
  OS_MEM_TRACKER_REMOVE = 2,    // clear the entry of an address
  OS_MEM_TRACKER_FIND = 3,      // find by address
  OS_MEM_TRACKER_FINDNAME = 4,  // find by exact name
  OS_MEM_TRACKER_FINDNEXT = 5,  // next item whose name contains a text, from *a_piIndex
  OS_MEM_TRACKER_REPLACE = 6,   // replace the address stored in an entry
};

// a_pvAddress is the address to add, remove, find or replace; a_szName the
// name searched; a_pvNew the replacing address. Call with the lock held.
COsMemItem* OsMemTracker(COsMemImpl* a_posmemimpl, EOSMEMTRACKER a_eosmemtracker, void* a_pvAddress,
                         const char* a_szName, int* a_piIndex, void* a_pvNew);

// Takes the manager's lock when the caller asked for it.
class CMemLock {
 public:
  CMemLock(COsMemImpl* a_posmemimpl, bool a_bLock) : m_pu32Lock(a_bLock ? &a_posmemimpl->m_u32Lock : nullptr) {
    if (m_pu32Lock != nullptr) OsSyncSpinLock(m_pu32Lock);
  }
  ~CMemLock() { Release(); }
  // Ends the hold early (what follows needs no lock).
  void Release() {
    if (m_pu32Lock != nullptr) OsSyncSpinUnlock(m_pu32Lock);
    m_pu32Lock = nullptr;
  }
  CMemLock(const CMemLock&) = delete;
  CMemLock& operator=(const CMemLock&) = delete;

 private:
  volatile std::uint32_t* m_pu32Lock;
};

// The table dump of OsMemDump for a caller that holds the lock.
void OsMemDumpLocked(const COsMemImpl* a_posmemimpl, const void* a_pvMem);

// What the release of a mapped item needs once its entry has left the table.
struct COsMemMapped {
  void* m_pvAddress;
  std::uint32_t m_u32Size;
  std::uint32_t m_u32Offset;
  std::uint32_t m_u32Flags;
  HANDLE m_hFile;
  HANDLE m_hMapping;
};
// Flushes, unmaps and closes a mapped item (OsMemFree's step for type
// memorymap); needs no lock.
void OsMemReleaseMapped(const COsMemImpl* a_posmemimpl, const COsMemMapped& a_mapped);

// The memory report written when an allocation fails: the manager's
// DumpSystem, or the same report when there is no manager.
void OsMemWriteCrashReport(const char* a_szName);

// The process-status calls of the memory report, looked up per report in
// the system directory's psapi.dll.
struct OsMemPsapi {
  BOOL(WINAPI* m_pfnQueryWorkingSet)(HANDLE, PVOID, DWORD);
  BOOL(WINAPI* m_pfnEnumProcessModules)(HANDLE, HMODULE*, DWORD, LPDWORD);
  BOOL(WINAPI* m_pfnGetModuleInformation)(HANDLE, HMODULE, LPMODULEINFO, DWORD);
};
// For tests (Wine's QueryWorkingSet always fails): the non-null entries of
// *a_posmempsapi stand in for the looked-up ones, so that a recorded working
// set or module list is reported; the library is still loaded and looked up.
// Null (the state a process starts in) turns it off. The table must outlive
// its use.
void OsMemPsapiOverride(const OsMemPsapi* a_posmempsapi);

// Failure injection, for tests of the paths a healthy machine never takes:
// after a_lAllocations more allocations of the manager and objects of the
// OsMemNew convention have succeeded, the next one fails (once). -1 (the
// state a process starts in) turns it off. OsMemFailurePending: the failure
// has not happened yet.
void OsMemFailAfter(long a_lAllocations);
bool OsMemFailurePending();
