// The file object: open modes, reads and writes, formatted writes, sizes and
// positions, region locks, name and times.
#include <atomic>
#include <cstring>

#include "os_cosfile_impl.h"
#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_memnew.h"
#include "os_sysinfo.h"

// The class's one fixed text for a missing implementation.
#define OS_FILE_IMPL_OR_RETURN(a_ret) OS_RETURN_IF_NULL(m_posfileimpl, OS_LOG_ASSERT, "m_posfileimpl is null...", a_ret)

namespace {

constexpr std::uint32_t OS_FILE_LOCK_STEP_MS = 100;

EOSSTS OpenStatus(DWORD a_dwError) {
  switch (a_dwError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return OS_STS_NOTFOUND;
    case ERROR_ACCESS_DENIED: return OS_STS_ACCESSDENIED;
    case ERROR_SHARING_VIOLATION: return OS_STS_SHARING;
    case ERROR_CANNOT_MAKE: return OS_STS_CANNOTCREATE;
    default: return OS_STS_FAIL;
  }
}

std::atomic<std::int64_t> s_i64WriteBudget{-1};

// The bytes of a_u32Bytes a write may make before the failure a test asked
// for (*a_pbFail), or all of them.
std::uint32_t WriteAllowance(std::uint32_t a_u32Bytes, bool* a_pbFail) {
  *a_pbFail = false;
  std::int64_t l_i64Budget = s_i64WriteBudget.load();
  while (l_i64Budget >= 0) {
    const bool l_bFail = l_i64Budget < a_u32Bytes;
    if (s_i64WriteBudget.compare_exchange_weak(l_i64Budget, l_bFail ? -1 : l_i64Budget - a_u32Bytes)) {
      *a_pbFail = l_bFail;
      return l_bFail ? static_cast<std::uint32_t>(l_i64Budget) : a_u32Bytes;
    }
  }
  return a_u32Bytes;
}

}  // namespace

void OsFileWriteFailAfter(std::int64_t a_i64Bytes) { s_i64WriteBudget.store(a_i64Bytes < 0 ? -1 : a_i64Bytes); }

COsFile::COsFile() : m_posfileimpl(OsMemNew(COsFileImpl, "COsFileImpl")) {}

COsFile::~COsFile() {
  if (m_posfileimpl == nullptr) return;
  Close();
  SharedLibraryFree();
  OsMemDelete(m_posfileimpl);
  m_posfileimpl = nullptr;
}

EOSSTS COsFile::Open(const char* a_szFilename, EOSFILEOPEN a_eosfileopen, EOSFILEACCESS a_eosfileaccess,
                     EOSFILESHARE a_eosfileshare) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szFilename, OS_LOG_ERROR, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF(a_szFilename[0] == 0, OS_LOG_ERROR, "a_szFilename is empty...", OS_STS_BADARG);
  OS_RETURN_IF(a_eosfileopen < 1 || a_eosfileopen > 6, OS_LOG_ERROR, "a_eosfileopen is bad...", OS_STS_BADARG);
  OS_RETURN_IF(a_eosfileaccess < 1 || a_eosfileaccess > 4, OS_LOG_ERROR, "a_eosfileaccess is bad...", OS_STS_BADARG);
  OS_RETURN_IF(a_eosfileshare < 1 || a_eosfileshare > 4, OS_LOG_ERROR, "a_eosfileshare is bad...", OS_STS_BADARG);

  static const DWORD s_adwDisposition[] = {
      0, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS, CREATE_ALWAYS, OPEN_EXISTING, CREATE_NEW};
  static const DWORD s_adwFlags[] = {0,
                                     FILE_ATTRIBUTE_NORMAL,
                                     FILE_ATTRIBUTE_NORMAL,
                                     FILE_ATTRIBUTE_NORMAL,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
                                     FILE_FLAG_BACKUP_SEMANTICS,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT};
  static const DWORD s_adwAccess[] = {0, GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE, 0};
  static const DWORD s_adwShare[] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
  const DWORD l_dwDisposition = s_adwDisposition[a_eosfileopen];
  const DWORD l_dwAccess = s_adwAccess[a_eosfileaccess];
  const DWORD l_dwShare = s_adwShare[a_eosfileshare];
  const DWORD l_dwFlags = s_adwFlags[a_eosfileopen];

  // An object holds one file: the earlier one is closed, never leaked.
  Close();
  SetLastError(0);
  EOSSTS l_eossts = OS_STS_SUCCESS;
  wchar_t l_wszName[OS_WPATH_SIZE];
  if (!OsFileToWide(a_szFilename, l_wszName)) {
    l_eossts = OS_STS_FAIL;
  } else {
    m_posfileimpl->m_hFile =
        CreateFileW(l_wszName, l_dwAccess, l_dwShare, nullptr, l_dwDisposition, l_dwFlags, nullptr);
    if (m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE) l_eossts = OpenStatus(GetLastError());
  }
  if (l_eossts != OS_STS_SUCCESS) {
    OS_LOGI("CreateFileW failed...%d 0x%x 0x%x 0x%x 0x%x <%s>", static_cast<int>(l_eossts),
            static_cast<unsigned>(l_dwAccess), static_cast<unsigned>(l_dwShare), static_cast<unsigned>(l_dwDisposition),
            static_cast<unsigned>(l_dwFlags), a_szFilename);
    SetLastError(0);
  }
  SStrCpy(m_posfileimpl->m_szName, sizeof(m_posfileimpl->m_szName), a_szFilename);
  return l_eossts;
}

EOSSTS COsFile::Close() {
  if (m_posfileimpl == nullptr) return OS_STS_SUCCESS;
  if (m_posfileimpl->m_hFile != INVALID_HANDLE_VALUE) {
    CloseHandle(m_posfileimpl->m_hFile);
    m_posfileimpl->m_hFile = INVALID_HANDLE_VALUE;
  }
  // The system dropped the locks with the handle: slots kept now would make
  // a lock after the next open answer "held" without locking anything.
  std::memset(m_posfileimpl->m_alockslot, 0, sizeof(m_posfileimpl->m_alockslot));
  if (m_posfileimpl->m_szPrintf != nullptr) {
    OS_MEM_FREE(m_posfileimpl->m_szPrintf);
    m_posfileimpl->m_szPrintf = nullptr;
  }
  return OS_STS_SUCCESS;
}

EOSSTS OsFileOpenPlain(COsFile* a_posfile, const char* a_szPath, EOSFILEPLAIN a_eosfileplain,
                       EOSFILEACCESS a_eosfileaccess) {
  OS_RETURN_IF(a_posfile == nullptr || a_posfile->m_posfileimpl == nullptr || a_szPath == nullptr || a_szPath[0] == 0,
               OS_LOG_ASSERT, "OsFileOpenPlain: bad argument...", OS_STS_BADARG);
  COsFileImpl* const l_posfileimpl = a_posfile->m_posfileimpl;
  a_posfile->Close();
  wchar_t l_wszPath[OS_WPATH_SIZE];
  if (!OsFileToWide(a_szPath, l_wszPath)) return OS_STS_FAIL;
  const DWORD l_dwAccess = (a_eosfileaccess == OS_FILE_ACCESS_READ    ? GENERIC_READ
                            : a_eosfileaccess == OS_FILE_ACCESS_WRITE ? GENERIC_WRITE
                                                                      : GENERIC_READ | GENERIC_WRITE) |
                           FILE_READ_ATTRIBUTES;
  const DWORD l_dwShare = a_eosfileaccess == OS_FILE_ACCESS_READ ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  const DWORD l_dwFlags =
      FILE_FLAG_OPEN_REPARSE_POINT |
      (a_eosfileplain == OS_FILE_PLAIN_DIRECTORY ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL);
  COsHandle l_handle(CreateFileW(l_wszPath, l_dwAccess, l_dwShare, nullptr,
                                 a_eosfileplain == OS_FILE_PLAIN_NEW ? CREATE_NEW : OPEN_EXISTING, l_dwFlags, nullptr));
  if (!l_handle) {
    const DWORD l_dwError = GetLastError();
    OS_LOGI("CreateFileW failed...%u <%s>", static_cast<unsigned>(l_dwError), a_szPath);
    SetLastError(0);
    return l_dwError == ERROR_FILE_EXISTS ? OS_STS_EXISTS : OpenStatus(l_dwError);
  }
  // The entry itself was opened: a link, or a file with a second name
  // elsewhere, is not what the caller meant to read or write.
  BY_HANDLE_FILE_INFORMATION l_info = {};
  if (!GetFileInformationByHandle(l_handle.Get(), &l_info) ||
      OsSysIsLink(l_handle.Get(), l_info.dwFileAttributes, l_wszPath) ||
      ((l_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) == (a_eosfileplain == OS_FILE_PLAIN_DIRECTORY) ||
      (a_eosfileplain != OS_FILE_PLAIN_DIRECTORY && l_info.nNumberOfLinks > 1)) {
    OS_LOGE("not a plain entry...<%s>", a_szPath);
    // A file this call made does not stay behind.
    if (a_eosfileplain == OS_FILE_PLAIN_NEW) {
      l_handle.Reset();
      DeleteFileW(l_wszPath);
    }
    SetLastError(0);
    return OS_STS_CANNOTCREATE;
  }
  l_posfileimpl->m_hFile = l_handle.Release();
  SStrCpy(l_posfileimpl->m_szName, sizeof(l_posfileimpl->m_szName), a_szPath);
  return OS_STS_SUCCESS;
}

bool COsFile::IsOpen() {
  OS_FILE_IMPL_OR_RETURN(false);
  return m_posfileimpl->m_hFile != INVALID_HANDLE_VALUE;
}

EOSSTS COsFile::Read(void* a_pBuffer, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Read) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "Need to open a file first...",
               OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pBuffer, OS_LOG_ERROR, "a_pBuffer is NULL...", OS_STS_BADARG);
  DWORD l_dw = 0;
  if (!ReadFile(m_posfileimpl->m_hFile, a_pBuffer, a_u32Bytes, &l_dw, nullptr)) return OS_STS_FAIL;
  if (a_pu32Read != nullptr) *a_pu32Read = l_dw;
  return OS_STS_SUCCESS;
}

EOSSTS COsFile::Write(const void* a_pBuffer, std::uint32_t a_u32Bytes, std::uint32_t* a_pu32Written) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "Need to open a file first...",
               OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pBuffer, OS_LOG_ERROR, "a_pBuffer is NULL...", OS_STS_BADARG);
  bool l_bFail = false;
  const std::uint32_t l_u32Bytes = WriteAllowance(a_u32Bytes, &l_bFail);
  DWORD l_dw = 0;
  if (!WriteFile(m_posfileimpl->m_hFile, a_pBuffer, l_u32Bytes, &l_dw, nullptr)) return OS_STS_FAIL;
  if (l_bFail) {
    SetLastError(ERROR_DISK_FULL);
    return OS_STS_FAIL;
  }
  if (a_pu32Written != nullptr) *a_pu32Written = l_dw;
  return OS_STS_SUCCESS;
}

int COsFile::Vprintf(const char* a_szFormat, va_list a_valist) {
  OS_FILE_IMPL_OR_RETURN(-1);
  OS_RETURN_IF_NULL(a_szFormat, OS_LOG_ERROR, "a_szFormat is null...", -1);
  if (m_posfileimpl->m_szPrintf == nullptr) {
    m_posfileimpl->m_szPrintf = static_cast<char*>(OS_MEM_ALLOC(m_posfileimpl->m_u32PrintfSize, "COsFile::Printf"));
    OS_RETURN_IF_NULL(m_posfileimpl->m_szPrintf, OS_LOG_ASSERT, "OsMemAlloc failed...", -1);
  }
  const int l_iLength = SStrVprintf(m_posfileimpl->m_szPrintf, m_posfileimpl->m_u32PrintfSize, a_szFormat, a_valist);
  if (l_iLength <= 0) return -1;
  std::uint32_t l_u32Written = 0;
  if (Write(m_posfileimpl->m_szPrintf, static_cast<std::uint32_t>(l_iLength), &l_u32Written) != OS_STS_SUCCESS ||
      l_u32Written == 0 || l_u32Written > static_cast<std::uint32_t>(l_iLength))
    return -1;
  m_posfileimpl->m_szPrintf[l_u32Written] = 0;
  return static_cast<int>(l_u32Written);
}

int COsFile::Printf(const char* a_szFormat, ...) {
  OS_FILE_IMPL_OR_RETURN(-1);
  OS_RETURN_IF_NULL(a_szFormat, OS_LOG_ERROR, "a_szFormat is null...", -1);
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  const int l_i = Vprintf(a_szFormat, l_valist);
  va_end(l_valist);
  return l_i;
}

int COsFile::SetPrintfBufferSize(std::uint32_t a_u32Bytes) {
  OS_FILE_IMPL_OR_RETURN(-1);
  const int l_iPrevious = static_cast<int>(m_posfileimpl->m_u32PrintfSize);
  m_posfileimpl->m_u32PrintfSize = a_u32Bytes;
  if (m_posfileimpl->m_szPrintf != nullptr) {
    OS_MEM_FREE(m_posfileimpl->m_szPrintf);
    m_posfileimpl->m_szPrintf = nullptr;
  }
  return l_iPrevious;
}

EOSSTS COsFile::Size64(std::uint64_t* a_pu64Bytes) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pu64Bytes, OS_LOG_ASSERT, "a_pu64Bytes is null...", OS_STS_FAIL);
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "Need to open a file first...",
               OS_STS_BADARG);
  // A size of 0 for a size that could not be read would have callers that
  // write behind the file's end write over its beginning.
  LARGE_INTEGER l_li = {};
  if (!GetFileSizeEx(m_posfileimpl->m_hFile, &l_li)) return OS_STS_FAIL;
  *a_pu64Bytes = static_cast<std::uint64_t>(l_li.QuadPart);
  return OS_STS_SUCCESS;
}

EOSSTS COsFile::Size(std::uint32_t* a_pu32Bytes) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pu32Bytes, OS_LOG_ASSERT, "a_psizetBytes is null...", OS_STS_FAIL);
  std::uint64_t l_u64 = 0;
  const EOSSTS l_eossts = Size64(&l_u64);
  if (l_eossts == OS_STS_SUCCESS) *a_pu32Bytes = static_cast<std::uint32_t>(l_u64);
  return l_eossts;
}

namespace {

// The file pointer of an open handle (0 when the system cannot tell).
std::uint64_t CurrentPosition(HANDLE a_hfile) {
  LARGE_INTEGER l_liZero = {};
  LARGE_INTEGER l_li = {};
  if (!SetFilePointerEx(a_hfile, l_liZero, &l_li, FILE_CURRENT)) return 0;
  return static_cast<std::uint64_t>(l_li.QuadPart);
}

}  // namespace

EOSSTS COsFile::GetFilePointer(std::uint32_t* a_pu32Bytes) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "Need to open a file first...",
               OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pu32Bytes, OS_LOG_ERROR, "a_psizetBytes is NULL...", OS_STS_BADARG);
  *a_pu32Bytes = static_cast<std::uint32_t>(CurrentPosition(m_posfileimpl->m_hFile));
  return OS_STS_SUCCESS;
}

EOSSTS COsFile::GetFilePointer64(std::uint64_t* a_pu64Bytes) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pu64Bytes, OS_LOG_ASSERT, "a_pu64Bytes is NULL...", OS_STS_FAIL);
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "Need to open a file first...",
               OS_STS_FAIL);
  *a_pu64Bytes = CurrentPosition(m_posfileimpl->m_hFile);
  return OS_STS_SUCCESS;
}

EOSSTS COsFile::SetFilePointer64(EOSFILEPOINTER a_eosfilepointer, std::int64_t a_i64Distance) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "Need to open a file first...",
               OS_STS_BADARG);
  OS_RETURN_IF(a_eosfilepointer < 1 || a_eosfilepointer > 3, OS_LOG_ERROR, "a_eosfilepointer is bad...", OS_STS_BADARG);
  static const DWORD s_adwMethod[] = {0, FILE_BEGIN, FILE_CURRENT, FILE_END};
  LARGE_INTEGER l_li;
  l_li.QuadPart = a_i64Distance;
  SetFilePointerEx(m_posfileimpl->m_hFile, l_li, nullptr, s_adwMethod[a_eosfilepointer]);
  return OS_STS_SUCCESS;
}

EOSSTS COsFile::SetFilePointer32(EOSFILEPOINTER a_eosfilepointer, std::int32_t a_i32Distance) {
  return SetFilePointer64(a_eosfilepointer, a_i32Distance);
}

EOSSTS COsFile::SetEndOfFile() {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "Need to open a file first...",
               OS_STS_BADARG);
  ::SetEndOfFile(m_posfileimpl->m_hFile);
  return OS_STS_SUCCESS;
}

EOSSTS COsFile::Flush() {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "Need to open a file first...",
               OS_STS_BADARG);
  FlushFileBuffers(m_posfileimpl->m_hFile);
  return OS_STS_SUCCESS;
}

EOSSTS COsFile::Lock(std::uint32_t a_u32Offset, std::uint32_t a_u32Length, std::uint32_t a_u32TimeoutMs,
                     const char* a_szName) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "Need to open a file first...",
               OS_STS_FAIL);
  OS_RETURN_IF(a_u32Length == 0, OS_LOG_ERROR, "a_sizetRegion must be greater than zero...", OS_STS_FAIL);
  OsFileLockSlot* l_pslotFree = nullptr;
  for (OsFileLockSlot& l_slot : m_posfileimpl->m_alockslot) {
    if (l_slot.m_u32Length != 0 && l_slot.m_u32Offset == a_u32Offset && l_slot.m_u32Length == a_u32Length)
      return OS_STS_SUCCESS;  // this object holds it already
    if (l_slot.m_u32Length == 0 && l_pslotFree == nullptr) l_pslotFree = &l_slot;
  }
  OS_RETURN_IF_NULL(l_pslotFree, OS_LOG_ERROR, "lock slots are all full...", OS_STS_FAIL);
  // One attempt per 100 ms of the time-out, the first at once.
  std::int64_t l_i64Left = a_u32TimeoutMs < OS_FILE_LOCK_STEP_MS ? OS_FILE_LOCK_STEP_MS : a_u32TimeoutMs;
  do {
    if (LockFile(m_posfileimpl->m_hFile, a_u32Offset, 0, a_u32Length, 0)) {
      l_pslotFree->m_u32Offset = a_u32Offset;
      l_pslotFree->m_u32Length = a_u32Length;
      return OS_STS_SUCCESS;
    }
    if (l_i64Left > OS_FILE_LOCK_STEP_MS) Sleep(OS_FILE_LOCK_STEP_MS);
    l_i64Left -= OS_FILE_LOCK_STEP_MS;
  } while (l_i64Left > 0);
  SetLastError(0);
  OS_LOGI("File is already locked...<%s>", a_szName != nullptr ? a_szName : "(not specified)");
  return OS_STS_BUSY;
}

EOSSTS COsFile::Unlock(std::uint32_t a_u32Offset, std::uint32_t a_u32Length) {
  if (m_posfileimpl == nullptr) return OS_STS_SUCCESS;
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "Need to open a file first...",
               OS_STS_FAIL);
  OS_RETURN_IF(a_u32Length == 0, OS_LOG_ERROR, "a_sizetRegion must be greater than zero...", OS_STS_FAIL);
  for (OsFileLockSlot& l_slot : m_posfileimpl->m_alockslot) {
    if (l_slot.m_u32Length == a_u32Length && l_slot.m_u32Offset == a_u32Offset) {
      UnlockFile(m_posfileimpl->m_hFile, a_u32Offset, 0, a_u32Length, 0);
      l_slot.m_u32Offset = 0;
      l_slot.m_u32Length = 0;
      break;
    }
  }
  return OS_STS_SUCCESS;
}

EOSSTS COsFile::TestLock(std::uint32_t a_u32Offset, std::uint32_t a_u32Length) {
  const EOSSTS l_eossts = Lock(a_u32Offset, a_u32Length, 0, nullptr);
  if (l_eossts == OS_STS_SUCCESS) Unlock(a_u32Offset, a_u32Length);
  return l_eossts;
}

EOSSTS COsFile::GetName(char* a_szName, std::size_t a_sizetName) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_posfileimpl->m_hFile == INVALID_HANDLE_VALUE, OS_LOG_ERROR, "file must be open to get the name...",
               OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szName, OS_LOG_ASSERT, "a_szName is null...", OS_STS_FAIL);
  SStrCpy(a_szName, a_sizetName, m_posfileimpl->m_szName);
  return OS_STS_SUCCESS;
}

EOSSTS COsFile::GetFileTimes(OsTimeRecord* a_ptimerecordAccessed, OsTimeRecord* a_ptimerecordModified) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  FILETIME l_ftAccessed = {};
  FILETIME l_ftModified = {};
  GetFileTime(m_posfileimpl->m_hFile, nullptr, &l_ftAccessed, &l_ftModified);
  if (a_ptimerecordAccessed != nullptr) OsFileTimeToRecord(l_ftAccessed, a_ptimerecordAccessed);
  if (a_ptimerecordModified != nullptr) OsFileTimeToRecord(l_ftModified, a_ptimerecordModified);
  return OS_STS_SUCCESS;
}

EOSSTS COsFile::SetFileTimes(const OsTimeRecord* a_ptimerecordAccessed, const OsTimeRecord* a_ptimerecordModified) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  FILETIME l_ftAccessed = {};
  FILETIME l_ftModified = {};
  GetFileTime(m_posfileimpl->m_hFile, nullptr, &l_ftAccessed, &l_ftModified);
  if (a_ptimerecordAccessed != nullptr) OsFileTimeFromRecord(*a_ptimerecordAccessed, &l_ftAccessed);
  if (a_ptimerecordModified != nullptr) OsFileTimeFromRecord(*a_ptimerecordModified, &l_ftModified);
  ::SetFileTime(m_posfileimpl->m_hFile, &l_ftModified, &l_ftAccessed, &l_ftModified);
  return OS_STS_SUCCESS;
}
