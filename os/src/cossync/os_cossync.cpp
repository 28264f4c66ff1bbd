// Events and mutexes, alone, by name or as members of a group whose table
// lives in a mapped file under the common root, and the waits on them.
#include <cstring>
#include <cwchar>

#include "os_coscfg.h"
#include "os_coscfg_impl.h"
#include "os_cosfile.h"
#include "os_coslocale.h"
#include "os_coslog.h"
#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_cossync_impl.h"
#include "os_log.h"
#include "os_memnew.h"

#define OS_SYNC_IMPL_OR_RETURN(a_ret) \
  OS_RETURN_IF_NULL(m_possyncimpl, OS_LOG_ASSERT, "sync>>> m_possyncimpl is null...", a_ret)

namespace {

constexpr int OS_SYNC_SECURITY_EVENT = 1;  // the library's descriptors for events and mutexes
constexpr int OS_SYNC_SECURITY_MUTEX = 2;
constexpr std::uint32_t OS_SYNC_GROUP_REQUEST = OS_SHARED_NOPAGEFILE;  // the table is a file, never page-file memory
constexpr wchar_t s_wszGlobal[] = L"Global\\";
constexpr std::size_t OS_SYNC_GLOBAL_LENGTH = 7;

const char* TypeName(EOSSYNCTYPE a_eossynctype) {
  static const char* const s_asz[] = {"Undefined", "Event", "Mutex", "Last"};
  return a_eossynctype >= OS_SYNCTYPE_UNDEFINED && a_eossynctype <= OS_SYNCTYPE_LAST ? s_asz[a_eossynctype] : "Last";
}

std::uint64_t CurrentThreadId() { return GetCurrentThreadId(); }

// The system name: Global\ and the name, unless the name already begins
// with it; bounded to 260 characters. False when the name cannot be converted.
bool SystemName(wchar_t* a_wszOut, const char* a_szName) {
  wchar_t l_wszName[OS_SYNC_NAME_SIZE];
  if (CopyStringFromUtf8(l_wszName, OS_SYNC_NAME_SIZE, a_szName) <= 0) return false;
  const bool l_bPrefixed = _wcsnicmp(l_wszName, s_wszGlobal, OS_SYNC_GLOBAL_LENGTH) == 0;
  if (std::wcslen(l_wszName) + (l_bPrefixed ? 0 : OS_SYNC_GLOBAL_LENGTH) >= OS_SYNC_NAME_SIZE) return false;
  a_wszOut[0] = 0;
  if (!l_bPrefixed) SWcsCpy(a_wszOut, OS_SYNC_NAME_SIZE, s_wszGlobal);
  SWcsCat(a_wszOut, OS_SYNC_NAME_SIZE, l_wszName);
  return true;
}

// The group table's lock, bounded: a member that died holding it, or a
// table that another party wrote, must not hang every member for ever.
// GetTickCount, since XP has no GetTickCount64: the unsigned 32-bit
// difference stays right across its wrap.
constexpr DWORD OS_SYNC_TABLE_LOCK_MS = 5000;
bool LockTable(OsSyncGroup* a_possyncgroup, const char* a_szGroup) {
  const DWORD l_dwStart = GetTickCount();
  while (OsSyncSpinTryLock(&a_possyncgroup->m_u32Lock) != OS_STS_SUCCESS) {
    if (GetTickCount() - l_dwStart > OS_SYNC_TABLE_LOCK_MS) {
      OS_LOGE("sync>>> the group table stays locked...<%s>", a_szGroup);
      return false;
    }
    Sleep(0);
  }
  return true;
}

// This process's own handle to the object a row names, with the rights a
// member needs (wait; set an event, release a mutex). Only the waiter's own
// kind is opened: a row must not make an event's wait take somebody's mutex.
HANDLE OpenByName(const char* a_szName, EOSSYNCTYPE a_eossynctype) {
  wchar_t l_wszName[OS_SYNC_NAME_SIZE];
  if (a_szName[0] == 0 || !SystemName(l_wszName, a_szName)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  return a_eossynctype == OS_SYNCTYPE_MUTEX ? OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, l_wszName)
                                            : OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, l_wszName);
}

void CloseRow(OsSyncRowHandle* a_posrow) {
  if (a_posrow->m_h != nullptr) CloseHandle(a_posrow->m_h);
  *a_posrow = OsSyncRowHandle{};
}

// Copies the shared table into the snapshot under its lock.
bool TakeSnapshot(COsSyncImpl* a_possyncimpl) {
  OsSyncGroup* const l_possyncgroup = a_possyncimpl->m_possyncgroupShared;
  if (!LockTable(l_possyncgroup, a_possyncimpl->m_szGroup)) return false;
  std::memcpy(a_possyncimpl->m_possyncgroupSnapshot, l_possyncgroup, OS_SYNC_GROUP_SIZE);
  OsSyncSpinUnlock(&l_possyncgroup->m_u32Lock);
  return true;
}

// Brings this process's handles in line with the snapshot: a row whose name
// or stored value changed is opened again; a row that cannot be opened is
// skipped, and said once.
void RefreshRows(COsSyncImpl* a_possyncimpl) {
  const OsSyncGroup* const l_possyncgroup = a_possyncimpl->m_possyncgroupSnapshot;
  for (int l_i = 0; l_i < OS_SYNC_GROUP_ROWS; ++l_i) {
    OsSyncRowHandle* const l_posrow = &a_possyncimpl->m_aoshRow[l_i];
    const std::uint32_t l_u32Stored = l_possyncgroup->m_au32Handle[l_i];
    // Another process wrote the row: its name may lack its terminator.
    char l_szName[OS_SYNC_NAME_SIZE];
    std::memcpy(l_szName, l_possyncgroup->m_aszName[l_i], OS_SYNC_NAME_SIZE - 1);
    l_szName[OS_SYNC_NAME_SIZE - 1] = 0;
    const bool l_bOwn = a_possyncimpl->m_bHasRow && a_possyncimpl->m_u64GroupSlot == static_cast<std::uint64_t>(l_i);
    if (l_u32Stored == 0 || l_bOwn) {
      CloseRow(l_posrow);
      continue;
    }
    const bool l_bSame = l_posrow->m_u32Stored == l_u32Stored && std::strcmp(l_posrow->m_szName, l_szName) == 0;
    if (l_bSame && l_posrow->m_h != nullptr) continue;
    // A row that could not be opened is tried again at every wait: its
    // member may have come back under the same name and value.
    const bool l_bSaid = l_bSame && l_posrow->m_bSaid;
    CloseRow(l_posrow);
    l_posrow->m_u32Stored = l_u32Stored;
    SStrCpy(l_posrow->m_szName, sizeof(l_posrow->m_szName), l_szName);
    l_posrow->m_h = OpenByName(l_szName, a_possyncimpl->m_eossynctype);
    if (l_posrow->m_h == nullptr && !l_bSaid) {
      OS_LOGE("sync>>> group member cannot be opened, not waited on...<%s> <%s> %d", l_szName, a_possyncimpl->m_szGroup,
              static_cast<int>(GetLastError()));
    }
    l_posrow->m_bSaid = l_posrow->m_h == nullptr;
  }
}

void Release(COsSyncImpl* a_possyncimpl) {
  // The row goes first: nobody may find it naming an object already gone.
  OsSyncGroup* const l_possyncgroup = a_possyncimpl->m_possyncgroupShared;
  if (l_possyncgroup != nullptr && a_possyncimpl->m_bHasRow && LockTable(l_possyncgroup, a_possyncimpl->m_szGroup)) {
    const std::size_t l_sizetRow = static_cast<std::size_t>(a_possyncimpl->m_u64GroupSlot);
    l_possyncgroup->m_au32Handle[l_sizetRow] = 0;
    std::memset(l_possyncgroup->m_aszName[l_sizetRow], 0, OS_SYNC_NAME_SIZE);
    OsSyncSpinUnlock(&l_possyncgroup->m_u32Lock);
  }
  if (a_possyncimpl->m_handle != nullptr) {
    OS_LOGX(OS_LOG_SYNC, "sync>>> Close...%p (%s)", static_cast<void*>(a_possyncimpl), a_possyncimpl->m_szName);
    CloseHandle(a_possyncimpl->m_handle);
    a_possyncimpl->m_handle = nullptr;
    a_possyncimpl->m_szName[0] = 0;
  }
  if (a_possyncimpl->m_hProcess != nullptr && a_possyncimpl->m_u8ProcessBorrowed == 0)
    CloseHandle(a_possyncimpl->m_hProcess);
  a_possyncimpl->m_hProcess = nullptr;
  if (l_possyncgroup != nullptr) OsMemFree(l_possyncgroup, OS_LOG_FILE, __LINE__, OS_LOG_MEM_NORMAL, true);
  if (a_possyncimpl->m_possyncgroupSnapshot != nullptr) OS_MEM_FREE(a_possyncimpl->m_possyncgroupSnapshot);
  for (OsSyncRowHandle& l_osrow : a_possyncimpl->m_aoshRow) CloseRow(&l_osrow);
  *a_possyncimpl = COsSyncImpl{};
  SetLastError(ERROR_SUCCESS);
}

constexpr int OS_SYNC_JOIN_TRIES = 3;

// A group name is one file name in the common root.
bool GroupNameIsPlain(const char* a_szGroup) {
  if (std::strcmp(a_szGroup, ".") == 0 || std::strcmp(a_szGroup, "..") == 0) return false;
  return std::strpbrk(a_szGroup, "\\/:*?\"<>|") == nullptr;
}

// Maps the group's table and takes its first free row for this object.
EOSSTS JoinGroup(COsSyncImpl* a_possyncimpl) {
  OS_RETURN_IF(!GroupNameIsPlain(a_possyncimpl->m_szGroup), OS_LOG_ASSERT, "sync>>> bad group name...<%s>", OS_STS_FAIL,
               a_possyncimpl->m_szGroup);
  COsCfg* const l_poscfg = OsCfgInstance();
  const char* const l_szRoot = l_poscfg != nullptr ? l_poscfg->GetItem(1, OS_CFGTAG_ROOTCOMMONDIRECTORY) : nullptr;
  char l_szPath[OS_PATH_SIZE];
  if (l_szRoot == nullptr || !OsFilePathJoin(l_szPath, sizeof(l_szPath), l_szRoot, a_possyncimpl->m_szGroup)) {
    OS_LOGA("sync>>> OsMemSharedAlloc failed...<%s> <%s>", a_possyncimpl->m_szName, a_possyncimpl->m_szGroup);
    return OS_STS_FAIL;
  }
  a_possyncimpl->m_possyncgroupSnapshot =
      static_cast<OsSyncGroup*>(OS_MEM_ALLOC(OS_SYNC_GROUP_SIZE, "OsSyncGroup snapshot"));
  if (a_possyncimpl->m_possyncgroupSnapshot == nullptr) {
    OS_LOGA("sync>>> OsMemAlloc failed...");
    return OS_STS_FAIL;
  }
  // The table lives in a file that the system deletes with its last handle,
  // so it lasts as long as some member maps it. The file may come or go
  // between the look and the open (another member creating it, the last
  // one leaving): the other way is tried then.
  OsSyncGroup* l_possyncgroup = nullptr;
  bool l_bExists = OsFileExists(l_szPath);
  for (int l_iTry = 0; l_iTry < OS_SYNC_JOIN_TRIES && l_possyncgroup == nullptr; ++l_iTry, l_bExists = !l_bExists) {
    l_possyncgroup = static_cast<OsSyncGroup*>(OsMemSharedAlloc(
        l_bExists ? OS_SHAREDALLOC_OPEN : OS_SHAREDALLOC_TEMPORARY, l_szPath,
        static_cast<std::int32_t>(OS_SYNC_GROUP_SIZE), 0, static_cast<std::int32_t>(OS_SYNC_GROUP_SIZE),
        OS_SHAREDLOCK_NONE, OS_SYNC_GROUP_REQUEST, OS_LOG_FILE, __LINE__));
  }
  if (l_possyncgroup == nullptr) {
    OS_LOGA("sync>>> OsMemSharedAlloc failed...<%s> <%s>", a_possyncimpl->m_szName, a_possyncimpl->m_szGroup);
    return OS_STS_FAIL;
  }
  a_possyncimpl->m_possyncgroupShared = l_possyncgroup;
  if (!LockTable(l_possyncgroup, a_possyncimpl->m_szGroup)) return OS_STS_FAIL;
  // A size of 0 is a table whose creator has not written it yet.
  if (l_possyncgroup->m_u64Size == 0) l_possyncgroup->m_u64Size = OS_SYNC_GROUP_SIZE;
  if (l_possyncgroup->m_u64Size < OS_SYNC_GROUP_SIZE) {
    const int l_iSize = static_cast<int>(l_possyncgroup->m_u64Size);
    OsSyncSpinUnlock(&l_possyncgroup->m_u32Lock);
    OS_LOGA("sync>>> mismatch detected in OsSyncGroup...%d < %d", l_iSize, static_cast<int>(OS_SYNC_GROUP_SIZE));
    return OS_STS_FAIL;
  }
  for (int l_i = 0; l_i < OS_SYNC_GROUP_ROWS; ++l_i) {
    if (l_possyncgroup->m_au32Handle[l_i] != 0) continue;
    l_possyncgroup->m_au32Handle[l_i] =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(a_possyncimpl->m_handle));
    SStrCpy(l_possyncgroup->m_aszName[l_i], OS_SYNC_NAME_SIZE, a_possyncimpl->m_szName);
    OsSyncSpinUnlock(&l_possyncgroup->m_u32Lock);
    a_possyncimpl->m_u64GroupSlot = static_cast<std::uint64_t>(l_i);
    a_possyncimpl->m_bHasRow = true;
    return OS_STS_SUCCESS;
  }
  OsSyncSpinUnlock(&l_possyncgroup->m_u32Lock);
  OS_LOGA("sync>>> m_possyncgroupShared is full...<%s> <%s>", a_possyncimpl->m_szName, a_possyncimpl->m_szGroup);
  return OS_STS_FAIL;
}

// The member of a handle list entry: -1 the watched process, 8 the object
// itself, else a row.
constexpr int OS_SYNC_ENTRY_PROCESS = -1;
constexpr int OS_SYNC_ENTRY_SELF = OS_SYNC_GROUP_ROWS;

}  // namespace

COsSync::COsSync() : m_possyncimpl(OsMemNew(COsSyncImpl, "COsSyncImpl")) {}

COsSync::~COsSync() {
  if (m_possyncimpl == nullptr) return;
  Release(m_possyncimpl);
  OsMemDelete(m_possyncimpl);
  m_possyncimpl = nullptr;
}

EOSSTS COsSync::Create(EOSSYNCTYPE a_eossynctype, const char* a_szName, const char* a_szGroup, std::uint8_t a_u8Flag) {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  COsSyncImpl* const l_p = m_possyncimpl;
  OS_LOGI("sync>>> Create(%s,%s,%s,%d)", TypeName(a_eossynctype), a_szName != nullptr ? a_szName : "null",
          a_szGroup != nullptr ? a_szGroup : "null", static_cast<int>(a_u8Flag));
  const bool l_bNamed = a_szName != nullptr && a_szName[0] != 0;
  const bool l_bGroup = a_szGroup != nullptr && a_szGroup[0] != 0;
  OS_RETURN_IF(l_bGroup && !l_bNamed, OS_LOG_ASSERT, "sync>>> cannot specify a group for an unnamed event...",
               OS_STS_FAIL);
  OS_RETURN_IF(a_eossynctype == OS_SYNCTYPE_MUTEX && !l_bNamed, OS_LOG_ASSERT, "sync>>> a mutex must have a name...",
               OS_STS_FAIL);
  OS_RETURN_IF(l_p->m_u32Usage != OS_SYNCUSAGE_FREE, OS_LOG_ASSERT, "sync>>> this object is already in use...",
               OS_STS_FAIL);
  OS_RETURN_IF((l_bNamed && std::strlen(a_szName) >= OS_SYNC_NAME_SIZE) ||
                   (l_bGroup && std::strlen(a_szGroup) >= OS_SYNC_NAME_SIZE),
               OS_LOG_ASSERT, "sync>>> a name is too long...", OS_STS_FAIL);
  l_p->m_u32Usage = OS_SYNCUSAGE_CREATED;
  l_p->m_eossynctype = a_eossynctype;
  l_p->m_u32Created = 0;
  l_p->m_u64ThreadId = CurrentThreadId();
  SStrCpy(l_p->m_szName, sizeof(l_p->m_szName), l_bNamed ? a_szName : "");
  SStrCpy(l_p->m_szGroup, sizeof(l_p->m_szGroup), l_bGroup ? a_szGroup : "");
  l_p->m_eossyncnaming = l_bGroup ? OS_SYNCNAMING_GROUP : l_bNamed ? OS_SYNCNAMING_NAMED : OS_SYNCNAMING_UNNAMED;
  if (l_p->m_handle != nullptr) {
    OS_LOGA("sync>>> event already created...");
    Release(l_p);
    return OS_STS_FAIL;
  }
  wchar_t l_wszName[OS_SYNC_NAME_SIZE];
  if (l_bNamed && !SystemName(l_wszName, l_p->m_szName)) {
    if (a_eossynctype == OS_SYNCTYPE_MUTEX)
      OS_LOGE("sync>>> CreateMutex failed...");
    else
      OS_LOGE("sync>>> CreateEvent failed...");
    Release(l_p);
    return OS_STS_FAIL;
  }
  switch (a_eossynctype) {
    case OS_SYNCTYPE_EVENT:
      l_p->m_handle =
          l_bNamed ? CreateEventW(static_cast<SECURITY_ATTRIBUTES*>(OsCfgSecurityAttributes(OS_SYNC_SECURITY_EVENT)),
                                  FALSE, FALSE, l_wszName)
                   : CreateEventW(nullptr, FALSE, FALSE, nullptr);
      if (l_p->m_handle == nullptr) OS_LOGE("sync>>> CreateEvent failed...");
      break;
    case OS_SYNCTYPE_MUTEX:
      l_p->m_handle = CreateMutexW(static_cast<SECURITY_ATTRIBUTES*>(OsCfgSecurityAttributes(OS_SYNC_SECURITY_MUTEX)),
                                   FALSE, l_wszName);
      if (l_p->m_handle == nullptr) OS_LOGE("sync>>> CreateMutex failed...");
      break;
    default: OS_LOGA("sync>>> unrecognized m_eossynctype...%d", static_cast<int>(a_eossynctype)); break;
  }
  if (l_p->m_handle == nullptr || (l_bGroup && JoinGroup(l_p) != OS_STS_SUCCESS)) {
    Release(l_p);
    return OS_STS_FAIL;
  }
  SetLastError(ERROR_SUCCESS);
  l_p->m_u32Created = 1;
  return OS_STS_SUCCESS;
}

EOSSTS COsSync::Open(EOSSYNCTYPE a_eossynctype, const char* a_szName) {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  COsSyncImpl* const l_p = m_possyncimpl;
  OS_LOGI("sync>>> Open(%s,%s)", TypeName(a_eossynctype), a_szName != nullptr ? a_szName : "null");
  OS_RETURN_IF(a_szName == nullptr || a_szName[0] == 0, OS_LOG_ASSERT, "sync>>> a_szName is null or empty...",
               OS_STS_FAIL);
  OS_RETURN_IF(l_p->m_u32Usage != OS_SYNCUSAGE_FREE, OS_LOG_ASSERT, "sync>>> this object is already in use...",
               OS_STS_FAIL);
  OS_RETURN_IF(std::strlen(a_szName) >= OS_SYNC_NAME_SIZE, OS_LOG_ASSERT, "sync>>> a name is too long...", OS_STS_FAIL);
  l_p->m_u32Usage = OS_SYNCUSAGE_OPENED;
  l_p->m_eossynctype = a_eossynctype;
  l_p->m_eossyncnaming = OS_SYNCNAMING_NAMED;
  l_p->m_u64ThreadId = CurrentThreadId();
  SStrCpy(l_p->m_szName, sizeof(l_p->m_szName), a_szName);
  if (l_p->m_handle != nullptr) {
    OS_LOGA("sync>>> event already opened...");
    Release(l_p);
    return OS_STS_FAIL;
  }
  if (a_eossynctype != OS_SYNCTYPE_EVENT && a_eossynctype != OS_SYNCTYPE_MUTEX) {
    OS_LOGA("sync>>> unrecognzied a_eossynctype...%d", static_cast<int>(a_eossynctype));
    Release(l_p);
    return OS_STS_FAIL;
  }
  // Opening, not creating: a name nobody created leaves nothing behind, not
  // even for a moment in which another process could attach to it.
  wchar_t l_wszName[OS_SYNC_NAME_SIZE];
  if (SystemName(l_wszName, l_p->m_szName)) {
    l_p->m_handle = a_eossynctype == OS_SYNCTYPE_EVENT ? OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, l_wszName)
                                                       : OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, l_wszName);
  }
  if (l_p->m_handle == nullptr) {
    if (a_eossynctype == OS_SYNCTYPE_EVENT)
      OS_LOGE("sync>>> CreateEvent failed...");
    else
      OS_LOGE("sync>>> CreateMutex failed...");
    Release(l_p);
    return OS_STS_NOTFOUND;
  }
  SetLastError(ERROR_SUCCESS);
  l_p->m_u32Created = 1;
  return OS_STS_SUCCESS;
}

EOSSTS COsSync::Close() {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  Release(m_possyncimpl);
  return OS_STS_SUCCESS;
}

EOSSTS COsSync::EventCreate(const char* a_szName, const char* a_szGroup, std::uint8_t a_u8Flag) {
  return Create(OS_SYNCTYPE_EVENT, a_szName, a_szGroup, a_u8Flag);
}
EOSSTS COsSync::EventOpen(const char* a_szName) { return Open(OS_SYNCTYPE_EVENT, a_szName); }
EOSSTS COsSync::MutexCreate(const char* a_szName, const char* a_szGroup) {
  return Create(OS_SYNCTYPE_MUTEX, a_szName, a_szGroup, 0);
}
EOSSTS COsSync::MutexOpen(const char* a_szName) { return Open(OS_SYNCTYPE_MUTEX, a_szName); }

EOSSTS COsSync::EventStart(const char* a_szName, bool a_bCreate) {
  if (a_szName != nullptr && a_szName[0] != 0)
    return a_bCreate ? EventCreate(a_szName, nullptr, 1) : EventOpen(a_szName);
  OS_RETURN_IF(a_szName != nullptr || !a_bCreate, OS_LOG_ASSERT, "bad argument...", OS_STS_FAIL);
  return EventCreate(nullptr, nullptr, 1);
}

EOSSTS COsSync::EventClose() {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  if (m_possyncimpl->m_u32Usage == OS_SYNCUSAGE_FREE) return OS_STS_SUCCESS;
  OS_RETURN_IF(m_possyncimpl->m_eossynctype != OS_SYNCTYPE_EVENT, OS_LOG_ASSERT, "sync>>> not an event...%d",
               OS_STS_FAIL, static_cast<int>(m_possyncimpl->m_eossynctype));
  return Close();
}

EOSSTS COsSync::MutexClose() {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  if (m_possyncimpl->m_u32Usage == OS_SYNCUSAGE_FREE) return OS_STS_SUCCESS;
  OS_RETURN_IF(m_possyncimpl->m_eossynctype != OS_SYNCTYPE_MUTEX, OS_LOG_ASSERT, "sync>>> sync type isn't a mutex...%d",
               OS_STS_FAIL, static_cast<int>(m_possyncimpl->m_eossynctype));
  return Close();
}

EOSSYNCTYPE COsSync::TypeGet() {
  OS_SYNC_IMPL_OR_RETURN(OS_SYNCTYPE_UNDEFINED);
  return m_possyncimpl->m_eossynctype;
}

EOSSTS COsSync::NameGet(char* a_szName, std::size_t a_sizetName) {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  SStrCpy(a_szName, a_sizetName, m_possyncimpl->m_szName);
  return OS_STS_SUCCESS;
}

EOSSTS COsSync::GroupGet(char* a_szGroup, std::size_t a_sizetGroup) {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  SStrCpy(a_szGroup, a_sizetGroup, m_possyncimpl->m_szGroup);
  return OS_STS_SUCCESS;
}

EOSSTS COsSync::EventSet() {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_possyncimpl->m_u32Usage == OS_SYNCUSAGE_FREE, OS_LOG_ASSERT, "sync>>> must create/open first...",
               OS_STS_FAIL);
  OS_RETURN_IF(m_possyncimpl->m_handle == nullptr, OS_LOG_ERROR, "sync>>> must create event first...", OS_STS_FAIL);
  OS_RETURN_IF(!SetEvent(m_possyncimpl->m_handle), OS_LOG_ERROR, "sync>>> SetEvent failed...", OS_STS_FAIL);
  return OS_STS_SUCCESS;
}

void COsSync::EventReset() {
  OS_SYNC_IMPL_OR_RETURN();
  OS_RETURN_IF(m_possyncimpl->m_u32Usage == OS_SYNCUSAGE_FREE, OS_LOG_ASSERT, "sync>>> must create/open first...", );
  OS_RETURN_IF(m_possyncimpl->m_handle == nullptr, OS_LOG_ASSERT, "sync>>> must create event first...", );
  ResetEvent(m_possyncimpl->m_handle);
}

void COsSync::MutexRelease(const char* a_szName) {
  OS_SYNC_IMPL_OR_RETURN();
  COsSyncImpl* const l_p = m_possyncimpl;
  OS_RETURN_IF(a_szName == nullptr || a_szName[0] == 0, OS_LOG_ASSERT, "sync>>> a_szName is null...", );
  OS_RETURN_IF(l_p->m_eossyncnaming != OS_SYNCNAMING_NAMED && l_p->m_eossyncnaming != OS_SYNCNAMING_GROUP,
               OS_LOG_ASSERT, "sync>>> must be a named or in a group...", );
  OS_RETURN_IF(l_p->m_handle == nullptr, OS_LOG_ASSERT, "sync>>> must create event or mutex first...", );
  OS_RETURN_IF(l_p->m_eossynctype == OS_SYNCTYPE_MUTEX && l_p->m_u64ThreadId != CurrentThreadId(), OS_LOG_ERROR,
               "sync>>> a mutex can only be used in the thread that created it...%llu != %llu", ,
               static_cast<unsigned long long>(l_p->m_u64ThreadId), static_cast<unsigned long long>(CurrentThreadId()));
  if (std::strcmp(a_szName, l_p->m_szName) == 0) {
    ReleaseMutex(l_p->m_handle);
    return;
  }
  // Another member: released through this process's own handle to it,
  // opened from a fresh copy of the table when none is held yet.
  const auto l_held = [&] {
    for (const OsSyncRowHandle& l_osrow : l_p->m_aoshRow)
      if (l_osrow.m_h != nullptr && std::strcmp(l_osrow.m_szName, a_szName) == 0) return true;
    return false;
  };
  if (!l_held() && l_p->m_possyncgroupShared != nullptr && TakeSnapshot(l_p)) RefreshRows(l_p);
  for (const OsSyncRowHandle& l_osrow : l_p->m_aoshRow) {
    if (l_osrow.m_h != nullptr && std::strcmp(l_osrow.m_szName, a_szName) == 0) {
      ReleaseMutex(l_osrow.m_h);
      return;
    }
  }
  OS_LOGE("sync>>> mutex not found...<%s>", a_szName);
}

namespace {

// The wait of both kinds once the kind has been checked.
EOSSTS Wait(COsSyncImpl* a_p, std::uint32_t a_u32TimeoutMs, char* a_szName, std::size_t a_sizetName) {
  OS_RETURN_IF(a_szName != nullptr && a_sizetName == 0, OS_LOG_ASSERT,
               "sync>>> a_sizetName is 0 with a non-null a_szName...", OS_STS_FAIL);
  OS_RETURN_IF(a_p->m_u32Usage == OS_SYNCUSAGE_FREE, OS_LOG_ASSERT, "sync>>> must create/open first...", OS_STS_FAIL);
  OS_RETURN_IF(a_p->m_handle == nullptr, OS_LOG_ERROR, "sync>>> must create event or mutex first...", OS_STS_FAIL);
  OS_RETURN_IF(a_p->m_eossynctype == OS_SYNCTYPE_MUTEX && a_p->m_u64ThreadId != CurrentThreadId(), OS_LOG_ERROR,
               "sync>>> a mutex can only be used in the thread that created it...%llu != %llu", OS_STS_FAIL,
               static_cast<unsigned long long>(a_p->m_u64ThreadId), static_cast<unsigned long long>(CurrentThreadId()));
  HANDLE l_ah[1 + OS_SYNC_GROUP_ROWS];
  int l_aiEntry[1 + OS_SYNC_GROUP_ROWS];
  DWORD l_dwCount = 0;
  if (a_p->m_hProcess != nullptr) {
    l_ah[l_dwCount] = a_p->m_hProcess;
    l_aiEntry[l_dwCount++] = OS_SYNC_ENTRY_PROCESS;
  }
  // The members in row order, the object's own handle at its own row
  // whatever the table says there; this process's handles to the others.
  if (a_p->m_possyncgroupShared == nullptr) {
    l_ah[l_dwCount] = a_p->m_handle;
    l_aiEntry[l_dwCount++] = OS_SYNC_ENTRY_SELF;
  } else {
    if (!TakeSnapshot(a_p)) return OS_STS_FAIL;
    RefreshRows(a_p);
    for (int l_i = 0; l_i < OS_SYNC_GROUP_ROWS; ++l_i) {
      const bool l_bOwn = a_p->m_u64GroupSlot == static_cast<std::uint64_t>(l_i);
      const HANDLE l_h = l_bOwn ? a_p->m_handle : a_p->m_aoshRow[l_i].m_h;
      if (l_h == nullptr) continue;
      l_ah[l_dwCount] = l_h;
      l_aiEntry[l_dwCount++] = l_bOwn ? OS_SYNC_ENTRY_SELF : l_i;
    }
  }
  const DWORD l_dwResult = WaitForMultipleObjects(l_dwCount, l_ah, FALSE, a_u32TimeoutMs);
  if (l_dwResult == WAIT_TIMEOUT) return OS_STS_TIMEOUT;
  const bool l_bAbandoned = l_dwResult >= WAIT_ABANDONED_0 && l_dwResult < WAIT_ABANDONED_0 + l_dwCount;
  const DWORD l_dwIndex = l_bAbandoned ? l_dwResult - WAIT_ABANDONED_0 : l_dwResult - WAIT_OBJECT_0;
  if (!l_bAbandoned && l_dwResult >= WAIT_OBJECT_0 + l_dwCount) {
    OS_LOGA("sync>>> unrecognized return from WaitForSingleObject...%d", static_cast<int>(l_dwResult));
    return OS_STS_FAIL;
  }
  const int l_iEntry = l_aiEntry[l_dwIndex];
  if (l_iEntry == OS_SYNC_ENTRY_PROCESS) {
    OS_LOGI("sync>>> our process died...%ld", static_cast<long>(a_p->m_u64ProcessId));
    return OS_STS_ABANDONED;
  }
  if (l_bAbandoned) OS_LOGE("sync>>> WaitForSingleObject returned WAIT_ABANDONED...");
  const char* const l_szFired = l_iEntry == OS_SYNC_ENTRY_SELF ? a_p->m_szName : a_p->m_aoshRow[l_iEntry].m_szName;
  if (a_szName != nullptr) SStrCpy(a_szName, a_sizetName, l_szFired);
  return l_bAbandoned ? OS_STS_ABANDONED : OS_STS_SUCCESS;
}

EOSSTS WatchProcess(COsSyncImpl* a_p, std::uint64_t a_u64ProcessId, void* a_hProcess) {
  OS_RETURN_IF(a_p->m_handle == nullptr, OS_LOG_ERROR, "sync>>> must create event or mutex first...", OS_STS_FAIL);
  OS_RETURN_IF(a_p->m_eossynctype == OS_SYNCTYPE_MUTEX && a_p->m_u64ThreadId != CurrentThreadId(), OS_LOG_ERROR,
               "sync>>> a mutex can only be used in the thread that created it...%llu != %llu", OS_STS_FAIL,
               static_cast<unsigned long long>(a_p->m_u64ThreadId), static_cast<unsigned long long>(CurrentThreadId()));
  if (a_p->m_hProcess != nullptr && a_p->m_u8ProcessBorrowed == 0) CloseHandle(a_p->m_hProcess);
  a_p->m_hProcess = nullptr;
  a_p->m_u8ProcessBorrowed = 0;
  a_p->m_u64ProcessId = 0;
  if (a_u64ProcessId == 0) return OS_STS_SUCCESS;
  HANDLE l_h = a_hProcess;
  if (l_h == nullptr && a_u64ProcessId <= 0xFFFFFFFFu)
    l_h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(a_u64ProcessId));
  if (l_h == nullptr || l_h == INVALID_HANDLE_VALUE) {
    OS_LOGE("sync>>> OpenProcess failed...%llu", static_cast<unsigned long long>(a_u64ProcessId));
    return OS_STS_FAIL;
  }
  a_p->m_hProcess = l_h;
  a_p->m_u8ProcessBorrowed = a_hProcess != nullptr ? 1 : 0;
  a_p->m_u64ProcessId = a_u64ProcessId;
  return OS_STS_SUCCESS;
}

}  // namespace

EOSSTS COsSync::EventWait(std::uint32_t a_u32TimeoutMs, char* a_szName, std::size_t a_sizetName) {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_possyncimpl->m_eossynctype != OS_SYNCTYPE_EVENT, OS_LOG_ASSERT,
               "sync>>> sync type isn't an event...%d", OS_STS_FAIL, static_cast<int>(m_possyncimpl->m_eossynctype));
  return Wait(m_possyncimpl, a_u32TimeoutMs, a_szName, a_sizetName);
}

EOSSTS COsSync::MutexWait(std::uint32_t a_u32TimeoutMs, char* a_szName, std::size_t a_sizetName) {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_possyncimpl->m_eossynctype != OS_SYNCTYPE_MUTEX, OS_LOG_ASSERT, "sync>>> sync type isn't a mutex...%d",
               OS_STS_FAIL, static_cast<int>(m_possyncimpl->m_eossynctype));
  return Wait(m_possyncimpl, a_u32TimeoutMs, a_szName, a_sizetName);
}

EOSSTS COsSync::EventWaitSimple(std::uint32_t a_u32TimeoutMs) {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_SUCCESS);
  return EventWait(a_u32TimeoutMs, nullptr, 0);
}

EOSSTS COsSync::EventWatchProcess(std::uint64_t a_u64ProcessId, void* a_hProcess) {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  return WatchProcess(m_possyncimpl, a_u64ProcessId, a_hProcess);
}

EOSSTS COsSync::MutexWatchProcess(std::uint64_t a_u64ProcessId, void* a_hProcess) {
  OS_SYNC_IMPL_OR_RETURN(OS_STS_FAIL);
  return WatchProcess(m_possyncimpl, a_u64ProcessId, a_hProcess);
}
