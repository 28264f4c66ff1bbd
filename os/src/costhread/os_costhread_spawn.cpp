// The child process a COsThread may own, the process search and the timed
// suspend of the machine.
#include <algorithm>
#include <cstring>
#include <cwchar>

#include "os_coscfg.h"
#include "os_coscfg_services.h"
#include "os_coslocale.h"
#include "os_coslog.h"
#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_costhread_cmdline.h"
#include "os_costhread_impl.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_sysinfo.h"
#include "os_win.h"

#include <userenv.h>
#include <winsvc.h>

namespace {

struct OsServiceHandleTraits {
  typedef SC_HANDLE Type;
  static Type Empty() { return nullptr; }
  static bool IsEmpty(Type a_h) { return a_h == nullptr; }
  static void Close(Type a_h) { CloseServiceHandle(a_h); }
};
typedef COsScoped<OsServiceHandleTraits> COsServiceHandle;

constexpr std::size_t OS_SPAWN_ARGUMENT_MAX = 512;  // characters taken of one argument
constexpr int OS_SPAWN_ARGUMENTS = 8;
constexpr int OS_SPAWN_CHECKS = 10;
constexpr DWORD OS_SPAWN_CHECK_MS = 10;
constexpr DWORD OS_SPAWN_KILL_WAIT_MS = 5000;
constexpr int OS_CFGTAG_FORCEDESKTOP = 89;
constexpr int OS_INTEGRITY_LOW_PROTECTED = 1;

// The desktop a child is started on: the item, else this process's window
// station with \Default.
void DesktopName(wchar_t* a_wszOut, std::size_t a_sizetOut) {
  COsCfg* const l_poscfg = OsCfgInstance();
  const char* const l_szForced =
      l_poscfg != nullptr ? l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_FORCEDESKTOP) : nullptr;
  if (l_szForced != nullptr && l_szForced[0] != 0 && CopyStringFromUtf8(a_wszOut, a_sizetOut, l_szForced) > 0) return;
  wchar_t l_wszStation[OS_PATH_SIZE] = {};
  DWORD l_dw = 0;
  HWINSTA const l_hwinsta = GetProcessWindowStation();
  if (l_hwinsta == nullptr ||
      !GetUserObjectInformationW(l_hwinsta, UOI_NAME, l_wszStation, sizeof(l_wszStation) - sizeof(wchar_t), &l_dw) ||
      l_wszStation[0] == 0) {
    SWcsCpy(a_wszOut, a_sizetOut, L"WinSta0\\Default");
    return;
  }
  SWcsCpy(a_wszOut, a_sizetOut, l_wszStation);
  if (std::wcschr(l_wszStation, L'\\') == nullptr) SWcsCat(a_wszOut, a_sizetOut, L"\\Default");
}

// Creates the process as the logged-on user: a low-integrity process in
// protected mode cannot start a program of its own integrity directly.
BOOL CreateAsUser(wchar_t* a_wszCommand, DWORD a_dwFlags, const wchar_t* a_wszDirectory, STARTUPINFOW* a_psi,
                  PROCESS_INFORMATION* a_ppi) {
  typedef BOOL(WINAPI * PfnCreate)(LPVOID*, HANDLE, BOOL);
  typedef BOOL(WINAPI * PfnDestroy)(LPVOID);
  wchar_t l_wszPath[MAX_PATH];
  COsModule l_module(OsSysLibraryPath(L"Userenv.dll", l_wszPath, MAX_PATH) ? LoadLibraryW(l_wszPath) : nullptr);
  if (!l_module) {
    OS_LOGA("LoadLibraryW failed...");
    return FALSE;
  }
  const PfnCreate l_pfnCreate =
      reinterpret_cast<PfnCreate>(reinterpret_cast<void*>(GetProcAddress(l_module.Get(), "CreateEnvironmentBlock")));
  const PfnDestroy l_pfnDestroy =
      reinterpret_cast<PfnDestroy>(reinterpret_cast<void*>(GetProcAddress(l_module.Get(), "DestroyEnvironmentBlock")));
  if (l_pfnCreate == nullptr || l_pfnDestroy == nullptr) {
    OS_LOGA("GetProcAddress failed...");
    return FALSE;
  }
  HANDLE l_hToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &l_hToken)) OS_LOGA("OpenProcessToken failed...");
  COsHandle l_token(l_hToken);
  HANDLE l_hPrimary = nullptr;
  if (!DuplicateTokenEx(l_token.Get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &l_hPrimary)) {
    OS_LOGA("DuplicateTokenEx failed...");
    return FALSE;
  }
  COsHandle l_primary(l_hPrimary);
  void* l_pvEnvironment = nullptr;
  if (!l_pfnCreate(&l_pvEnvironment, l_primary.Get(), TRUE)) {
    OS_LOGA("CreateEnvironmentBlock failed...");
    return FALSE;
  }
  const BOOL l_b =
      CreateProcessAsUserW(l_primary.Get(), nullptr, a_wszCommand, nullptr, nullptr, FALSE,
                           a_dwFlags | CREATE_UNICODE_ENVIRONMENT, l_pvEnvironment, a_wszDirectory, a_psi, a_ppi);
  const DWORD l_dwError = GetLastError();
  l_pfnDestroy(l_pvEnvironment);
  SetLastError(l_dwError);
  return l_b;
}

}  // namespace

void OsThreadSpawnRelease(COsThreadImpl* a_posthreadimpl) {
  a_posthreadimpl->m_hSpawnProcess.Reset();
  a_posthreadimpl->m_hSpawnThread.Reset();
  if (a_posthreadimpl->m_pwszSpawnCommand != nullptr) OS_MEM_FREE(a_posthreadimpl->m_pwszSpawnCommand);
  a_posthreadimpl->m_pwszSpawnCommand = nullptr;
}

EOSSTS COsThread::Spawn(std::int32_t a_lSpawnFlags, const char* a_szProgram, const char* a_szArg0, const char* a_szArg1,
                        const char* a_szArg2, const char* a_szArg3, const char* a_szArg4, const char* a_szArg5,
                        const char* a_szArg6, const char* a_szArg7, const char* a_szArg8) {
  OS_RETURN_IF_NULL(m_posthreadimpl, OS_LOG_ASSERT, "Spawn: m_posthreadimpl is NULL...", OS_STS_FAIL);
  COsThreadImpl* const l_p = m_posthreadimpl;
  OS_RETURN_IF_NULL(a_szProgram, OS_LOG_ERROR, "Spawn: a_szProgram is NULL...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szArg0, OS_LOG_ERROR, "Spawn: a_szArg0 is NULL...", OS_STS_FAIL);
  OS_RETURN_IF(SpawnIsRunning(), OS_LOG_ERROR, "Spawn: This object already has something spawned...", OS_STS_FAIL);

  if (l_p->m_pwszSpawnCommand == nullptr) {
    l_p->m_pwszSpawnCommand =
        static_cast<wchar_t*>(OS_MEM_ALLOC(OS_SPAWN_COMMAND_SIZE * sizeof(wchar_t), "spawn command"));
    if (l_p->m_pwszSpawnCommand == nullptr) {
      OS_LOGA("Spawn: OsMemAlloc failed...<%s>", a_szProgram);
      return OS_STS_FAIL;
    }
  }
  wchar_t* const l_wszCommand = l_p->m_pwszSpawnCommand;
  std::memset(l_wszCommand, 0, OS_SPAWN_COMMAND_SIZE * sizeof(wchar_t));
  // The program in quotes, then each argument, quoted for the child's
  // parser unless the caller passes them as they are.
  wchar_t l_wszProgram[OS_PATH_SIZE];
  if (CopyStringFromUtf8(l_wszProgram, OS_PATH_SIZE, a_szProgram) <= 0) {
    OS_LOGE("Spawn: Failed to spawn...<%s>", a_szProgram);
    return OS_STS_FAIL;
  }
  SWcsCpy(l_wszCommand, OS_SPAWN_COMMAND_SIZE, L"\"");
  SWcsCat(l_wszCommand, OS_SPAWN_COMMAND_SIZE, l_wszProgram);
  SWcsCat(l_wszCommand, OS_SPAWN_COMMAND_SIZE, L"\" ");
  const char* const l_aszArg[OS_SPAWN_ARGUMENTS] = {a_szArg1, a_szArg2, a_szArg3, a_szArg4,
                                                    a_szArg5, a_szArg6, a_szArg7, a_szArg8};
  const bool l_bRaw = (a_lSpawnFlags & OS_SPAWN_RAWARGS) != 0;
  // The list ends at the first null; an empty argument is passed as one.
  for (const char* const l_szArg : l_aszArg) {
    if (l_szArg == nullptr) break;
    // The first 512 characters of the argument (two units for a character
    // beyond the basic plane): its UTF-8 prefix is converted, never the rest.
    char l_szPrefix[OS_SPAWN_ARGUMENT_MAX * 4 + 1];
    std::size_t l_sizetBytes = 0;
    for (std::size_t l_sizetChars = 0; l_szArg[l_sizetBytes] != 0 && l_sizetChars < OS_SPAWN_ARGUMENT_MAX;
         ++l_sizetChars) {
      std::size_t l_sizetNext = l_sizetBytes + 1;
      while ((static_cast<unsigned char>(l_szArg[l_sizetNext]) & 0xC0) == 0x80 && l_sizetNext - l_sizetBytes < 4)
        ++l_sizetNext;
      l_sizetBytes = l_sizetNext;
    }
    std::memcpy(l_szPrefix, l_szArg, l_sizetBytes);
    l_szPrefix[l_sizetBytes] = 0;
    wchar_t l_wszArg[OS_SPAWN_ARGUMENT_MAX * 2 + 1];
    if (l_sizetBytes == 0) l_wszArg[0] = 0;
    if ((l_sizetBytes > 0 && CopyStringFromUtf8(l_wszArg, sizeof(l_wszArg) / sizeof(wchar_t), l_szPrefix) <= 0) ||
        !OsSpawnAppendArgument(l_wszCommand, OS_SPAWN_COMMAND_SIZE, l_wszArg, OS_SPAWN_ARGUMENT_MAX * 2, l_bRaw)) {
      OS_LOGE("Spawn: Failed to spawn...<%s>", a_szProgram);
      return OS_STS_FAIL;
    }
  }
  // The working directory: the program's own.
  wchar_t l_wszDirectory[OS_PATH_SIZE];
  SWcsCpy(l_wszDirectory, OS_PATH_SIZE, l_wszProgram);
  wchar_t* const l_pwcSlash = std::wcsrchr(l_wszDirectory, L'\\');
  // "C:" alone would be the drive's current directory: its root keeps the separator.
  if (l_pwcSlash != nullptr) l_pwcSlash[l_pwcSlash == l_wszDirectory + 2 && l_wszDirectory[1] == L':' ? 1 : 0] = 0;
  const wchar_t* const l_wszWorking = l_pwcSlash != nullptr ? l_wszDirectory : nullptr;
  wchar_t l_wszDesktop[OS_PATH_SIZE];
  DesktopName(l_wszDesktop, OS_PATH_SIZE);
  l_p->m_si = STARTUPINFOW{};
  l_p->m_si.cb = sizeof(l_p->m_si);
  if ((a_lSpawnFlags & OS_SPAWN_NODESKTOP) == 0) l_p->m_si.lpDesktop = l_wszDesktop;
  DWORD l_dwFlags = NORMAL_PRIORITY_CLASS;
  if (a_lSpawnFlags & OS_SPAWN_NOWINDOW) l_dwFlags |= CREATE_NO_WINDOW;
  if (a_lSpawnFlags & OS_SPAWN_NEWCONSOLE) l_dwFlags |= CREATE_NEW_CONSOLE;
  OS_LOGI("Spawn: a_lSpawnFlags...0x%08x", static_cast<unsigned>(a_lSpawnFlags));
  OS_LOGI("Spawn: command.........%S", l_wszCommand);
  OS_LOGI("Spawn: directory.......%S", l_wszWorking != nullptr ? l_wszWorking : L"(none)");
  OS_LOGI("Spawn: desktop.........%S", l_wszDesktop);
  OS_LOGI("Spawn: attributes......0x%08x", static_cast<unsigned>(l_dwFlags));
  // The child inherits the library's start-up arguments.
  const OsServicesState& l_state = OsServicesGetState();
  if (l_state.m_szInherited[0] != 0) OsServicesWriteArguments(l_state.m_szInherited);

  l_p->m_pi = PROCESS_INFORMATION{};
  const BOOL l_b = OsProcessIntegrityGet() == OS_INTEGRITY_LOW_PROTECTED
                       ? CreateAsUser(l_wszCommand, l_dwFlags, l_wszWorking, &l_p->m_si, &l_p->m_pi)
                       : CreateProcessW(nullptr, l_wszCommand, nullptr, nullptr, FALSE, l_dwFlags, nullptr,
                                        l_wszWorking, &l_p->m_si, &l_p->m_pi);
  l_p->m_si.lpDesktop = nullptr;  // the name lived on this stack
  if (!l_b || l_p->m_pi.hProcess == nullptr) {
    OS_LOGE("Spawn: Failed to spawn...<%s>", a_szProgram);
    l_p->m_pi = PROCESS_INFORMATION{};
    l_p->m_hSpawnProcess.Reset();
    return OS_STS_FAIL;
  }
  l_p->m_hSpawnProcess.Reset(l_p->m_pi.hProcess);
  l_p->m_hSpawnThread.Reset(l_p->m_pi.hThread);
  OS_LOGI("Spawn: dwProcessId.....%u", static_cast<unsigned>(l_p->m_pi.dwProcessId));
  OS_LOGI("Spawn: dwThreadId......%u", static_cast<unsigned>(l_p->m_pi.dwThreadId));
  OS_LOGI("Spawn: hProcess........%p", static_cast<void*>(l_p->m_pi.hProcess));
  OS_LOGI("Spawn: hThread.........%p", static_cast<void*>(l_p->m_pi.hThread));
  // The check watches the child's first 100 ms: a start takes longer than
  // one 10 ms poll, so a child that ends at once is seen only when every
  // poll is used.
  if (a_lSpawnFlags & OS_SPAWN_CHECKSTART) {
    for (int l_i = 0; l_i < OS_SPAWN_CHECKS; ++l_i) {
      const DWORD l_dw = WaitForSingleObject(l_p->m_hSpawnProcess.Get(), OS_SPAWN_CHECK_MS);
      if (l_dw == WAIT_TIMEOUT) continue;
      if (l_dw == WAIT_OBJECT_0) {
        OS_LOGE("WAIT_OBJECT_0...%u <%s>", static_cast<unsigned>(l_i), a_szProgram);
        break;
      }
      if (l_dw == WAIT_ABANDONED_0)
        OS_LOGE("WAIT_ABANDONED_0...<%s>", a_szProgram);
      else
        OS_LOGE("WAIT_FAILED...<%s>", a_szProgram);
      // A failed spawn leaves no child behind.
      SpawnKill();
      return OS_STS_FAIL;
    }
  }
  return OS_STS_SUCCESS;
}

void* COsThread::SpawnProcessGet() {
  if (m_posthreadimpl == nullptr || !m_posthreadimpl->m_hSpawnProcess) return nullptr;
  DWORD l_dw = 0;
  if (GetExitCodeProcess(m_posthreadimpl->m_hSpawnProcess.Get(), &l_dw) && l_dw == STILL_ACTIVE)
    return m_posthreadimpl->m_hSpawnProcess.Get();
  m_posthreadimpl->m_hSpawnProcess.Reset();
  m_posthreadimpl->m_hSpawnThread.Reset();
  return nullptr;
}

EOSSTS COsThread::SpawnWait(std::uint32_t a_u32Milliseconds) {
  if (m_posthreadimpl == nullptr || !m_posthreadimpl->m_hSpawnProcess) return OS_STS_SUCCESS;
  if (WaitForSingleObject(m_posthreadimpl->m_hSpawnProcess.Get(), a_u32Milliseconds) == WAIT_TIMEOUT)
    return OS_STS_TIMEOUT;
  m_posthreadimpl->m_hSpawnProcess.Reset();
  m_posthreadimpl->m_hSpawnThread.Reset();
  return OS_STS_SUCCESS;
}

bool COsThread::SpawnIsRunning() {
  if (m_posthreadimpl == nullptr || !m_posthreadimpl->m_hSpawnProcess) return false;
  if (WaitForSingleObject(m_posthreadimpl->m_hSpawnProcess.Get(), 0) == WAIT_TIMEOUT) return true;
  m_posthreadimpl->m_hSpawnProcess.Reset();
  m_posthreadimpl->m_hSpawnThread.Reset();
  return false;
}

EOSSTS COsThread::SpawnKill() {
  if (m_posthreadimpl == nullptr || !m_posthreadimpl->m_hSpawnProcess) return OS_STS_SUCCESS;
  TerminateProcess(m_posthreadimpl->m_hSpawnProcess.Get(), 0);
  WaitForSingleObject(m_posthreadimpl->m_hSpawnProcess.Get(), OS_SPAWN_KILL_WAIT_MS);
  m_posthreadimpl->m_hSpawnProcess.Reset();
  m_posthreadimpl->m_hSpawnThread.Reset();
  return OS_STS_SUCCESS;
}

// ---- finding a process ----

namespace {

EOSSTS FindService(const char* a_szName, std::uint64_t* a_pu64Pid) {
  wchar_t l_wszName[OS_PATH_SIZE];
  if (CopyStringFromUtf8(l_wszName, OS_PATH_SIZE, a_szName) <= 0) return OS_STS_FAIL;
  COsServiceHandle l_manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
  if (!l_manager) {
    OS_LOGA("OpenSCManager failed...");
    return OS_STS_FAIL;
  }
  COsServiceHandle l_service(OpenServiceW(l_manager.Get(), l_wszName, SERVICE_QUERY_STATUS));
  if (!l_service) {
    OS_LOGI("OpenService failed...");
    return OS_STS_FAIL;
  }
  SERVICE_STATUS_PROCESS l_status = {};
  DWORD l_dw = 0;
  if (!QueryServiceStatusEx(l_service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&l_status),
                            sizeof(l_status), &l_dw)) {
    OS_LOGI("QueryServiceStatusEx failed...");
    return OS_STS_FAIL;
  }
  if (l_status.dwCurrentState != SERVICE_RUNNING) return OS_STS_FAIL;
  *a_pu64Pid = l_status.dwProcessId;
  return OS_STS_SUCCESS;
}

// The entries of the system's process list, as far as this needs them.
struct OsProcessEntry {
  ULONG m_ulNextEntryOffset;
  ULONG m_ulThreads;
  LARGE_INTEGER m_aliReserved[3];
  LARGE_INTEGER m_liCreateTime, m_liUserTime, m_liKernelTime;
  USHORT m_usLength, m_usMaximumLength;
  PWSTR m_pwszBuffer;
  LONG m_lBasePriority;
  HANDLE m_hProcessId;
};

constexpr std::uint32_t OS_PROCESS_LIST_SIZE = 512 * 1024;
constexpr std::size_t OS_PROCESS_NAME_MAX = 128;
constexpr ULONG OS_SYSTEM_PROCESS_INFORMATION = 5;

EOSSTS FindProcess(const char* a_szName, std::uint64_t* a_pu64Pid) {
  typedef LONG(WINAPI * PfnQuery)(ULONG, PVOID, ULONG, PULONG);
  wchar_t l_wszPath[MAX_PATH];
  COsModule l_module(OsSysLibraryPath(L"ntdll.dll", l_wszPath, MAX_PATH) ? LoadLibraryW(l_wszPath) : nullptr);
  if (!l_module) {
    OS_LOGA("LoadLibrary failed...");
    return OS_STS_FAIL;
  }
  const PfnQuery l_pfn =
      reinterpret_cast<PfnQuery>(reinterpret_cast<void*>(GetProcAddress(l_module.Get(), "NtQuerySystemInformation")));
  if (l_pfn == nullptr) {
    OS_LOGA("GetProcAddress failed...");
    return OS_STS_FAIL;
  }
  unsigned char* const l_puc = static_cast<unsigned char*>(OS_MEM_ALLOC(OS_PROCESS_LIST_SIZE, "process list"));
  ULONG l_ul = 0;
  if (l_puc == nullptr || l_pfn(OS_SYSTEM_PROCESS_INFORMATION, l_puc, OS_PROCESS_LIST_SIZE, &l_ul) < 0) {
    OS_LOGA("OsMemAlloc failed...");
    if (l_puc != nullptr) OS_MEM_FREE(l_puc);
    return OS_STS_FAIL;
  }
  // The name, at most 128 characters, and every image name compared
  // without case in UTF-16.
  wchar_t l_wszWanted[OS_PATH_SIZE];
  if (CopyStringFromUtf8(l_wszWanted, OS_PATH_SIZE, a_szName) <= 0) l_wszWanted[0] = 0;
  if (std::wcslen(l_wszWanted) > OS_PROCESS_NAME_MAX) l_wszWanted[OS_PROCESS_NAME_MAX] = 0;
  CharLowerBuffW(l_wszWanted, static_cast<DWORD>(std::wcslen(l_wszWanted)));
  EOSSTS l_eossts = OS_STS_FAIL;
  // Every offset stays inside the buffer the system filled.
  for (std::size_t l_sizet = 0; l_wszWanted[0] != 0 && l_sizet + sizeof(OsProcessEntry) <= l_ul &&
                                l_sizet + sizeof(OsProcessEntry) <= OS_PROCESS_LIST_SIZE;) {
    const OsProcessEntry* const l_pentry = reinterpret_cast<const OsProcessEntry*>(l_puc + l_sizet);
    if (l_pentry->m_pwszBuffer != nullptr && l_pentry->m_usLength > 0) {
      wchar_t l_wszImage[OS_PATH_SIZE];
      const std::size_t l_sizetChars = std::min<std::size_t>(l_pentry->m_usLength / sizeof(wchar_t), OS_PATH_SIZE - 1);
      std::wmemcpy(l_wszImage, l_pentry->m_pwszBuffer, l_sizetChars);
      l_wszImage[l_sizetChars] = 0;
      CharLowerBuffW(l_wszImage, static_cast<DWORD>(l_sizetChars));
      if (std::wcsstr(l_wszImage, l_wszWanted) != nullptr) {
        *a_pu64Pid = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(l_pentry->m_hProcessId));
        l_eossts = OS_STS_SUCCESS;
        break;
      }
    }
    if (l_pentry->m_ulNextEntryOffset == 0) break;
    l_sizet += l_pentry->m_ulNextEntryOffset;
  }
  OS_MEM_FREE(l_puc);
  return l_eossts;
}

}  // namespace

EOSSTS OsProcessIdFind(const char* a_szName, bool a_bIsService, std::uint64_t* a_pu64Pid) {
  OS_RETURN_IF_NULL(a_pu64Pid, OS_LOG_ASSERT, "a_pu64Pid is null...", OS_STS_FAIL);
  *a_pu64Pid = 0;
  OS_RETURN_IF_NULL(a_szName, OS_LOG_ASSERT, "a_szName is null...", OS_STS_FAIL);
  // An empty name would match the first process of the list.
  OS_RETURN_IF(a_szName[0] == 0, OS_LOG_ASSERT, "a_szName is empty...", OS_STS_FAIL);
  return a_bIsService ? FindService(a_szName, a_pu64Pid) : FindProcess(a_szName, a_pu64Pid);
}

// ---- suspending the machine ----

namespace {

BOOL WINAPI RealSetWaitableTimer(HANDLE a_h, const LARGE_INTEGER* a_pli, LONG a_l, PTIMERAPCROUTINE a_pfn, LPVOID a_pv,
                                 BOOL a_b) {
  return SetWaitableTimer(a_h, a_pli, a_l, a_pfn, a_pv, a_b);
}
BOOL WINAPI RealSetSystemPowerState(BOOL a_bSuspend, BOOL a_bForce) {
  return SetSystemPowerState(a_bSuspend, a_bForce);
}
void WINAPI RealSleep(DWORD a_dw) { Sleep(a_dw); }

OsPowerSeam s_ospowerseam = {RealSetWaitableTimer, RealSetSystemPowerState, RealSleep};

constexpr DWORD OS_POWER_SETTLE_MS = 2000;
constexpr LONGLONG OS_FILETIME_PER_SECOND = 10000000;

}  // namespace

OsPowerSeam* OsThreadPowerSeam() { return &s_ospowerseam; }

EOSSTS OsSystemSleepAndWake(bool a_bHibernate, std::uint32_t a_u32Seconds) {
  HANDLE l_hToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &l_hToken)) {
    OS_LOGE("OpenProcessToken failed...%d", static_cast<int>(GetLastError()));
    return OS_STS_FAIL;
  }
  COsHandle l_token(l_hToken);
  TOKEN_PRIVILEGES l_tp = {};
  if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &l_tp.Privileges[0].Luid)) {
    OS_LOGE("LookupPrivilegeValue failed...%d", static_cast<int>(GetLastError()));
    return OS_STS_FAIL;
  }
  l_tp.PrivilegeCount = 1;
  l_tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!AdjustTokenPrivileges(l_token.Get(), FALSE, &l_tp, 0, nullptr, nullptr) || GetLastError() != ERROR_SUCCESS) {
    OS_LOGE("AdjustTokenPrivileges failed...%d", static_cast<int>(GetLastError()));
    return OS_STS_FAIL;
  }
  COsHandle l_timer(CreateWaitableTimerW(nullptr, FALSE, nullptr));
  if (!l_timer) {
    OS_LOGE("CreateWaitableTimer failed...%d", static_cast<int>(GetLastError()));
    return OS_STS_FAIL;
  }
  // An absolute UTC file time: now plus the seconds.
  FILETIME l_ft;
  GetSystemTimeAsFileTime(&l_ft);
  LARGE_INTEGER l_liDue;
  l_liDue.LowPart = l_ft.dwLowDateTime;
  l_liDue.HighPart = static_cast<LONG>(l_ft.dwHighDateTime);
  l_liDue.QuadPart += static_cast<LONGLONG>(a_u32Seconds) * OS_FILETIME_PER_SECOND;
  const OsPowerSeam* const l_pseam = OsThreadPowerSeam();
  if (!l_pseam->m_pfnSetWaitableTimer(l_timer.Get(), &l_liDue, 0, nullptr, nullptr, TRUE)) {
    OS_LOGE("SetWaitableTimer failed...%d", static_cast<int>(GetLastError()));
    return OS_STS_FAIL;
  }
  if (!l_pseam->m_pfnSetSystemPowerState(a_bHibernate ? FALSE : TRUE, FALSE)) {
    OS_LOGE("SetSystemPowerState failed...%d", static_cast<int>(GetLastError()));
    return OS_STS_FAIL;
  }
  l_pseam->m_pfnSleep(OS_POWER_SETTLE_MS);
  return OS_STS_SUCCESS;
}
