// The logging call and the log's small operations. Creation and
// re-configuration live in os_coslog_config.cpp, the header block in
// os_coslog_header.cpp.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "os_coscfg.h"
#include "os_coslocale.h"
#include "os_coslog_impl.h"
#include "os_cosstring.h"
#include "os_cosstring_impl.h"

namespace {

// Shared by every thread (and every log object) of the process, used only
// under s_lMessageLock: a log line allocates nothing.
char s_szMessage[OS_LOG_MESSAGE_SIZE];
volatile LONG s_lMessageLock = 0;

// Keeps the caller's last system error across the whole log call.
class CLastErrorGuard {
 public:
  CLastErrorGuard() : m_dwError(GetLastError()) {}
  ~CLastErrorGuard() { SetLastError(m_dwError); }
  CLastErrorGuard(const CLastErrorGuard&) = delete;
  CLastErrorGuard& operator=(const CLastErrorGuard&) = delete;
  DWORD Error() const { return m_dwError; }

 private:
  DWORD m_dwError;
};

bool IsMemoryClass(int a_iLevel) {
  return a_iLevel == 0x100 || a_iLevel == 0x1100 || a_iLevel == 0x8100 || a_iLevel == 0x8200;
}

// The class rules; the caller has tested OsLogGetDebug for the classes that need it.
bool PassesClassRules(const COsLogImpl* a_poslogimpl, int a_iLevel) {
  if (a_iLevel == OS_LOG_EXTRA) return a_poslogimpl->m_u32ExtraEnabled != 0;
  if (a_poslogimpl->m_bErrorsOnly && a_iLevel != OS_LOG_ERROR && a_iLevel != OS_LOG_ASSERT &&
      a_iLevel != OS_LOG_PROCESS)
    return false;
  if (a_iLevel == OS_LOG_ERROR || a_iLevel == OS_LOG_ASSERT) return true;
  if (a_poslogimpl->m_u32Level & OS_LOG_OPT_ONLYSELECT) return a_iLevel == OS_LOG_SELECT;
  if (a_poslogimpl->m_u32Level & OS_LOG_OPT_ONLYMEM) return IsMemoryClass(a_iLevel);
  return true;
}

// A slot whose thread ended may be taken over: the system no longer opens
// the thread, or the opened thread has ended.
bool ThreadEnded(std::uint64_t a_u64ThreadId) {
  HANDLE const l_hthread = OpenThread(SYNCHRONIZE, FALSE, static_cast<DWORD>(a_u64ThreadId));
  if (l_hthread == nullptr) return true;
  const bool l_bEnded = WaitForSingleObject(l_hthread, 0) == WAIT_OBJECT_0;
  CloseHandle(l_hthread);
  return l_bEnded;
}

// The calling thread's slot, taking a free one on its first line; null when
// all 64 belong to living threads.
OsLogSlot* FindSlot(COsLogImpl* a_poslogimpl) {
  const std::uint64_t l_u64Self = GetCurrentThreadId();
  for (OsLogSlot& l_slot : a_poslogimpl->m_aoslogslot)
    if (l_slot.m_u64ThreadId == l_u64Self) return &l_slot;
  OsLogSlot* l_pslot = nullptr;
  OsLogSpinLock(&a_poslogimpl->m_lSpinLock);
  for (OsLogSlot& l_slot : a_poslogimpl->m_aoslogslot) {
    if (l_slot.m_u64ThreadId == 0 || ThreadEnded(l_slot.m_u64ThreadId)) {
      l_slot.m_bBusy = false;
      l_slot.m_u64ThreadId = l_u64Self;
      l_pslot = &l_slot;
      break;
    }
  }
  OsLogSpinUnlock(&a_poslogimpl->m_lSpinLock);
  return l_pslot;
}

void ModuleName(OsLogSlot* a_poslogslot, const char* a_szFile) {
  char* const l_szModule = a_poslogslot->m_szModule;
  os_cosstring::CopyBounded(l_szModule, OS_LOG_MODULE_SIZE, a_szFile != nullptr ? a_szFile : "",
                            OS_LOG_MODULE_SIZE - 1);
  for (char* l_psz = l_szModule; *l_psz != 0; ++l_psz)
    if (*l_psz >= 'A' && *l_psz <= 'Z') *l_psz = static_cast<char>(*l_psz - 'A' + 'a');
  char* const l_pszDot = std::strrchr(l_szModule, '.');
  if (l_pszDot != nullptr) *l_pszDot = 0;
  const char* l_pszName = l_szModule;
  for (const char* l_psz = l_szModule; *l_psz != 0; ++l_psz)
    if (*l_psz == '\\' || *l_psz == '/') l_pszName = l_psz + 1;
  if (l_pszName != l_szModule) std::memmove(l_szModule, l_pszName, std::strlen(l_pszName) + 1);
}

// A token list without positive tokens selects every module; "~part"
// excludes the modules that contain part. A bare "~" excludes nothing (as
// an empty part it would be found in every name and silence the log).
bool PassesModuleFilter(const COsLogImpl* a_poslogimpl, const char* a_szModule) {
  bool l_bPositive = false;
  bool l_bSelected = false;
  for (int l_i = 0; l_i < OS_LOG_TOKENS && a_poslogimpl->m_apszToken[l_i] != nullptr; ++l_i) {
    const char* const l_szToken = a_poslogimpl->m_apszToken[l_i];
    if (l_szToken[0] == '~') {
      if (l_szToken[1] != 0 && std::strstr(a_szModule, l_szToken + 1) != nullptr) return false;
    } else {
      l_bPositive = true;
      if (std::strstr(a_szModule, l_szToken) != nullptr) l_bSelected = true;
    }
  }
  return !l_bPositive || l_bSelected;
}

// The file's directory exists (a path without one is relative: it does).
bool DirectoryExists(OsLogSlot* a_poslogslot, const char* a_szPath) {
  os_cosstring::CopyBounded(a_poslogslot->m_szPath2, OS_PATH_SIZE, a_szPath, OS_PATH_SIZE - 1);
  char* l_pszLast = nullptr;
  for (char* l_psz = a_poslogslot->m_szPath2; *l_psz != 0; ++l_psz)
    if (*l_psz == '\\' || *l_psz == '/') l_pszLast = l_psz;
  if (l_pszLast == nullptr) return true;
  if (l_pszLast == a_poslogslot->m_szPath2 || l_pszLast[-1] == ':')
    l_pszLast[1] = 0;  // a root keeps its separator
  else
    *l_pszLast = 0;
  wchar_t l_wszDirectory[OS_PATH_SIZE];
  if (CopyStringFromUtf8(l_wszDirectory, OS_PATH_SIZE, a_poslogslot->m_szPath2) == 0) return false;
  const DWORD l_dwAttributes = GetFileAttributesW(l_wszDirectory);
  return l_dwAttributes != INVALID_FILE_ATTRIBUTES && (l_dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// QRX_DEBUGDIR moves the log into a file of its own in that directory.
void ApplyDebugDirectory(COsLogImpl* a_poslogimpl, OsLogSlot* a_poslogslot) {
  char l_szDirectory[OS_PATH_SIZE];
  if (OsCfgGetEnv("QRX_DEBUGDIR", nullptr, sizeof(l_szDirectory), l_szDirectory, true) != OS_STS_SUCCESS ||
      l_szDirectory[0] == 0)
    return;
  OsLogCreateDirectories(a_poslogslot, l_szDirectory, true);
  OsTimeRecord l_timerecord;
  OsTimeGetLocal(&l_timerecord, 0);
  char l_szStamp[OS_TIME_STRING_SIZE];
  if (OsTimeToString(&l_timerecord, l_szStamp, sizeof(l_szStamp)) != OS_STS_SUCCESS) return;
  char l_szPath[OS_PATH_SIZE];
  if (LogSStrPrintf(l_szPath, sizeof(l_szPath), "%s\\%s.log", l_szDirectory, l_szStamp) > 0)
    os_cosstring::CopyBounded(a_poslogimpl->m_szLogFile, OS_PATH_SIZE, l_szPath, OS_PATH_SIZE - 1);
}

HANDLE OpenPath(const char* a_szPath) {
  // The conversion of the library would log its failure, and a line of the
  // log must never lead back into the log.
  // A path of 259 characters and its terminator fit.
  wchar_t l_wszPath[OS_PATH_SIZE + 1];
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, a_szPath, -1, l_wszPath, OS_PATH_SIZE) <= 0) {
    SetLastError(0);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(l_wszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The log file; its directories are made when the first open fails, then
// "c:\<unique name>.log" is the last resort.
HANDLE OpenLogFile(COsLogImpl* a_poslogimpl, OsLogSlot* a_poslogslot) {
  HANDLE l_hfile = OpenPath(a_poslogimpl->m_szLogFile);
  if (l_hfile != INVALID_HANDLE_VALUE) return l_hfile;
  OsLogCreateDirectories(a_poslogslot, a_poslogimpl->m_szLogFile, false);
  l_hfile = OpenPath(a_poslogimpl->m_szLogFile);
  if (l_hfile != INVALID_HANDLE_VALUE) return l_hfile;
  char l_szFallback[OS_PATH_SIZE];
  if (LogSStrPrintf(l_szFallback, sizeof(l_szFallback), "c:\\%s.log", a_poslogimpl->m_szUniqueName) > 0)
    l_hfile = OpenPath(l_szFallback);
  return l_hfile;
}

// Prefix, message and CR LF in one write, the header first when one is due.
void WriteLine(COsLogImpl* a_poslogimpl, OsLogSlot* a_poslogslot, HANDLE a_hfile, int a_iLevel, const char* a_szFormat,
               va_list a_valist) {
  OsLogSpinLock(&a_poslogimpl->m_lSpinLock);
  if (a_poslogimpl->m_u32HeaderPending != 0 || a_poslogimpl->m_u32SystemInfoWritten == 0 ||
      a_poslogimpl->m_u32AppInfoWritten == 0 ||
      (a_poslogimpl->m_u32DllInfoWritten == 0 && OsSysLibraryModule() != nullptr))
    OsLogWriteHeader(a_poslogimpl, a_poslogslot, a_hfile);

  // The counter moves under the lock, so the numbers follow the file's order.
  ++a_poslogimpl->m_i32LineCounter;
  OsLogSpinLock(&s_lMessageLock);
  int l_iLength = OsLogFormatPrefix(a_poslogimpl, a_poslogslot, s_szMessage, OS_LOG_MESSAGE_SIZE);
  if (l_iLength < 0) l_iLength = 0;
  const std::size_t l_sizetPrefix = static_cast<std::size_t>(l_iLength);
  // Room for CR LF after the message.
  const int l_iMessage =
      a_szFormat != nullptr ? os_cosstring::FormatBounded(s_szMessage + l_sizetPrefix,
                                                          OS_LOG_MESSAGE_SIZE - l_sizetPrefix - 2, a_szFormat, a_valist)
                            : -1;
  std::size_t l_sizetLine = l_sizetPrefix;
  if (l_iMessage >= 0)
    l_sizetLine += static_cast<std::size_t>(l_iMessage);
  else if (l_sizetLine > 0)
    --l_sizetLine;  // the prefix without its last blank
  s_szMessage[l_sizetLine++] = '\r';
  s_szMessage[l_sizetLine++] = '\n';
  OsLogAppend(a_hfile, s_szMessage, l_sizetLine, &a_poslogslot->m_dwWritten);
  OsLogSpinUnlock(&s_lMessageLock);
  if (a_poslogimpl->m_u32FlushAll != 0 || (a_iLevel & OS_LOG_FLUSH) != 0) FlushFileBuffers(a_hfile);
  OsLogSpinUnlock(&a_poslogimpl->m_lSpinLock);
}

void FlushPath(const char* a_szPath) {
  if (a_szPath[0] == 0) return;
  HANDLE const l_hfile = OpenPath(a_szPath);
  if (l_hfile == INVALID_HANDLE_VALUE) return;
  FlushFileBuffers(l_hfile);
  CloseHandle(l_hfile);
}

}  // namespace

void OsLogSpinLock(volatile LONG* a_plLock) {
  while (InterlockedCompareExchange(a_plLock, 1, 0) != 0) Sleep(0);
}

void OsLogSpinUnlock(volatile LONG* a_plLock) { InterlockedExchange(a_plLock, 0); }

namespace {
// Far beyond any real log file, so that it never covers data a reader wants.
constexpr DWORD OS_LOG_APPENDLOCK_HIGH = 0x7FFFFFFF;
constexpr DWORD OS_LOG_APPENDLOCK_LOW = 0xFFFFFFF0;

class CAppendLock {
 public:
  explicit CAppendLock(HANDLE a_hfile) : m_hfile(a_hfile) {
    m_overlapped.Offset = OS_LOG_APPENDLOCK_LOW;
    m_overlapped.OffsetHigh = OS_LOG_APPENDLOCK_HIGH;
    m_bLocked = LockFileEx(m_hfile, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &m_overlapped) != FALSE;
  }
  ~CAppendLock() {
    if (m_bLocked) UnlockFileEx(m_hfile, 0, 1, 0, &m_overlapped);
  }
  CAppendLock(const CAppendLock&) = delete;
  CAppendLock& operator=(const CAppendLock&) = delete;

 private:
  HANDLE m_hfile;
  OVERLAPPED m_overlapped = {};
  bool m_bLocked = false;
};
}  // namespace

bool OsLogAppend(HANDLE a_hfile, const char* a_pData, std::size_t a_sizetBytes, DWORD* a_pdwWritten) {
  CAppendLock l_lock(a_hfile);
  LARGE_INTEGER l_liZero = {};
  if (!SetFilePointerEx(a_hfile, l_liZero, nullptr, FILE_END)) return false;
  *a_pdwWritten = 0;
  return WriteFile(a_hfile, a_pData, static_cast<DWORD>(a_sizetBytes), a_pdwWritten, nullptr) != FALSE;
}

void OsLogTruncate(HANDLE a_hfile) {
  CAppendLock l_lock(a_hfile);
  LARGE_INTEGER l_liZero = {};
  if (SetFilePointerEx(a_hfile, l_liZero, nullptr, FILE_BEGIN)) SetEndOfFile(a_hfile);
}

void OsLogStdErr(const char* a_szFormat, ...) {
  char l_szText[1024];
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  const int l_i = os_cosstring::FormatBounded(l_szText, sizeof(l_szText), a_szFormat, l_valist);
  va_end(l_valist);
  if (l_i <= 0) return;
  // Unbuffered: nothing is left behind to flush.
  HANDLE const l_hstderr = GetStdHandle(STD_ERROR_HANDLE);
  DWORD l_dwWritten = 0;
  if (l_hstderr != nullptr && l_hstderr != INVALID_HANDLE_VALUE)
    WriteFile(l_hstderr, l_szText, static_cast<DWORD>(l_i), &l_dwWritten, nullptr);
}

void OsLogPrint(COsLog* a_poslog, const char* a_szFile, int a_iLine, int a_iLevel, const char* a_szFormat, ...) {
  CLastErrorGuard l_guard;
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return;
  COsLogImpl* const l_poslogimpl = a_poslog->m_poslogimpl;

  OsLogSlot* l_pslot = nullptr;
  if (l_poslogimpl->m_u32Suspended == 0 && PassesClassRules(l_poslogimpl, a_iLevel)) l_pslot = FindSlot(l_poslogimpl);
  // A thread already inside the log (a routine the log calls logged) is
  // dropped, and its outer call keeps the slot.
  if (l_pslot != nullptr && l_pslot->m_bBusy) l_pslot = nullptr;
  if (l_pslot != nullptr) {
    l_pslot->m_bBusy = true;
    l_pslot->m_dwSavedError = l_guard.Error();
    l_pslot->m_cMark = a_iLevel == OS_LOG_ERROR     ? 'E'
                       : a_iLevel == OS_LOG_ASSERT  ? 'A'
                       : a_iLevel == OS_LOG_PROCESS ? 'P'
                                                    : '.';
    l_pslot->m_iLine = a_iLine;
    ModuleName(l_pslot, a_szFile);
    bool l_bWrite = a_iLevel == OS_LOG_ERROR || PassesModuleFilter(l_poslogimpl, l_pslot->m_szModule);
    if (l_bWrite) {
      if (l_poslogimpl->m_u32Level & OS_LOG_OPT_FLUSHALL) {
        l_poslogimpl->m_u32FlushAll = 1;
        l_poslogimpl->m_u32Level &= ~OS_LOG_OPT_FLUSHALL;
      }
      OsTimeGetLocal(&l_pslot->m_timerecord, 0);
      if (!l_poslogimpl->m_bDirectoryConfirmed || l_poslogimpl->m_bDebugDirectoryPending) {
        OsLogSpinLock(&l_poslogimpl->m_lSpinLock);
        if (!l_poslogimpl->m_bDirectoryConfirmed)
          l_poslogimpl->m_bDirectoryConfirmed = DirectoryExists(l_pslot, l_poslogimpl->m_szLogFile);
        if (l_poslogimpl->m_bDirectoryConfirmed && l_poslogimpl->m_bDebugDirectoryPending) {
          l_poslogimpl->m_bDebugDirectoryPending = false;
          ApplyDebugDirectory(l_poslogimpl, l_pslot);
        }
        OsLogSpinUnlock(&l_poslogimpl->m_lSpinLock);
        l_bWrite = l_poslogimpl->m_bDirectoryConfirmed;
      }
    }
    if (l_bWrite) {
      HANDLE const l_hfile = OpenLogFile(l_poslogimpl, l_pslot);
      if (l_hfile == INVALID_HANDLE_VALUE) {
        l_poslogimpl->m_u32Suspended = 1;
      } else {
        l_pslot->m_hfile = l_hfile;
        va_list l_valist;
        va_start(l_valist, a_szFormat);
        WriteLine(l_poslogimpl, l_pslot, l_hfile, a_iLevel, a_szFormat, l_valist);
        va_end(l_valist);
        l_pslot->m_hfile = nullptr;
        CloseHandle(l_hfile);
      }
    }
    l_pslot->m_bBusy = false;
  }

  // The echo runs once per thread at a time: whatever it calls that logs a
  // broken assumption does not echo (and flush) again, and again.
  static thread_local bool s_bEchoing = false;
  if (a_iLevel == OS_LOG_ASSERT && l_poslogimpl->m_bAssertEcho && !s_bEchoing) {
    s_bEchoing = true;
    if (l_poslogimpl->m_u32Level != 0)
      OsLogStdErr("<%s> <%ld> <%s>\r\n", a_szFile != nullptr ? a_szFile : "", static_cast<long>(a_iLine),
                  a_szFormat != nullptr ? a_szFormat : "");
    FlushPath(l_poslogimpl->m_szLogFile);
    s_bEchoing = false;
  }
}

std::uint32_t OsLogGetDebug(COsLog* a_poslog) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return 0;
  return a_poslog->m_poslogimpl->m_u32Level;
}

void OsLogSetDebug(COsLog* a_poslog, std::uint32_t a_u32Level) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return;
  a_poslog->m_poslogimpl->m_u32Level = a_u32Level;
}

void OsLogGetFilename(COsLog* a_poslog, char* a_szFilename, std::size_t a_sizetFilename) {
  OsLogGetFilenameSts(a_poslog, a_szFilename, a_sizetFilename);
}

EOSSTS OsLogGetFilenameSts(COsLog* a_poslog, char* a_szFilename, std::size_t a_sizetFilename) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return OS_STS_FAIL;
  if (a_szFilename == nullptr || a_sizetFilename == 0) return OS_STS_BADARG;
  if (!os_cosstring::CopyBounded(a_szFilename, a_sizetFilename, a_poslog->m_poslogimpl->m_szLogFile, OS_PATH_SIZE))
    return OS_STS_BADARG;
  return OS_STS_SUCCESS;
}

int OsLogSuspend(COsLog* a_poslog, int a_iOn) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return 0;
  const int l_iPrevious = a_poslog->m_poslogimpl->m_u32Suspended != 0 ? 1 : 0;
  a_poslog->m_poslogimpl->m_u32Suspended = a_iOn != 0 ? 1 : 0;
  return l_iPrevious;
}

void OsLogFlush(COsLog* a_poslog) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return;
  FlushPath(a_poslog->m_poslogimpl->m_szLogFile);
}

bool OsLogIsFlushing(COsLog* a_poslog) {
  return a_poslog != nullptr && a_poslog->m_poslogimpl != nullptr && a_poslog->m_poslogimpl->m_u32FlushAll != 0;
}

bool OsLogIsExtraEnabled(COsLog* a_poslog) {
  return a_poslog != nullptr && a_poslog->m_poslogimpl != nullptr && a_poslog->m_poslogimpl->m_u32ExtraEnabled != 0;
}

int OsLogGetSwitch(COsLog* a_poslog) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return 0;
  return static_cast<int>(a_poslog->m_poslogimpl->m_u32Switch);
}

unsigned char OsLogGetState(COsLog* a_poslog) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return 0;
  const unsigned char* const l_pucState = a_poslog->m_poslogimpl->m_pucState;
  return l_pucState != nullptr ? *l_pucState : 1;
}

unsigned char OsLogGetStateNormalized(COsLog* a_poslog) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return 0;
  const unsigned char l_ucState = OsLogGetState(a_poslog);
  if (l_ucState == OS_LOG_STATE_INITIAL) return 0;
  if (l_ucState == 0) return 1;
  return l_ucState;
}

void OsLogSetState(COsLog* a_poslog, unsigned char a_ucState) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr || a_poslog->m_poslogimpl->m_pucState == nullptr) return;
  *a_poslog->m_poslogimpl->m_pucState = a_ucState;
}

void OsLogSetAssertEcho(COsLog* a_poslog, bool a_bOn) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return;
  a_poslog->m_poslogimpl->m_bAssertEcho = a_bOn;
}

int OsLogGetDisplayLength(COsLog* a_poslog) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return 0;
  COsCfg* const l_poscfg = OsCfgInstance();
  if (l_poscfg == nullptr || l_poscfg->m_poscfgimpl == nullptr) return 0;
  const char* const l_szItem = l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_DEBUGDISPLAYLENGTH);
  return l_szItem != nullptr ? static_cast<int>(std::strtol(l_szItem, nullptr, 0)) : 0;
}
