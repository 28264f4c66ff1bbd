// System sounds, and the sound library kept loaded between them.
#include <atomic>
#include <cstdint>

#include "os_cosfile.h"
#include "os_cosfile_impl.h"
#include "os_coslocale.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_sysinfo.h"
#include "os_win.h"

#include <tlhelp32.h>

#define OS_FILE_IMPL_OR_RETURN(a_ret) OS_RETURN_IF_NULL(m_posfileimpl, OS_LOG_ASSERT, "m_posfileimpl is null...", a_ret)

namespace {

// The sound library and its entry point, kept from the first sound until
// OsServicesStop. Zero-initialised: a process starts with both cleared.
typedef BOOL(WINAPI* OsPfnPlaySoundW)(LPCWSTR, HMODULE, DWORD);
std::atomic<HMODULE> s_hmoduleWinmm{nullptr};
std::atomic<OsPfnPlaySoundW> s_pfnPlaySoundW{nullptr};
constexpr DWORD OS_SOUND_ALIAS_ASYNC = 0x00020001;  // SND_ALIAS | SND_ASYNC

// Fills the cache without a lock: two first calls at once both load, and
// the one that comes second gives its reference back (same module, same
// entry point). Not safe against OsFileSoundRelease running at the same
// time: shut-down comes after the last sound.
OsPfnPlaySoundW LoadSound() {
  wchar_t l_wszPath[MAX_PATH];
  COsModule l_module(OsSysLoadLibrary(L"winmm.dll", l_wszPath));
  OS_RETURN_IF(!l_module, OS_LOG_ERROR, "LoadLibrary failed...<%ls>", nullptr, l_wszPath);
  OsPfnPlaySoundW l_pfn = nullptr;
  OS_RETURN_IF(!OsSysResolve(l_module.Get(), "PlaySoundW", &l_pfn), OS_LOG_ERROR, "GetProcAddress failed...<%s>",
               nullptr, "PlaySoundW");
  HMODULE l_hmoduleNone = nullptr;
  if (s_hmoduleWinmm.compare_exchange_strong(l_hmoduleNone, l_module.Get())) l_module.Release();
  s_pfnPlaySoundW.store(l_pfn);
  return l_pfn;
}

// An asynchronous sound plays on a thread the sound library starts, and
// stopping the sound does not wait for that thread to leave the library's
// code: one just made may not have run yet, and one that has played still
// returns through it. Waits for every thread of this process that starts in
// a_hmodule, 2 s in all; false at the first that does not end in time, whose
// start cannot be told, or when the threads cannot be listed. (Wine tells a
// thread's start only once it has run: a thread that shows none is waited
// for until it does, or ends.)
bool SoundThreadsEnded(HMODULE a_hmodule) {
  typedef LONG(WINAPI * OsPfnQueryThread)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  constexpr ULONG OS_THREAD_START_ADDRESS = 9;  // ThreadQuerySetWin32StartAddress
  constexpr DWORD OS_SOUND_THREADS_MS = 2000;
  OsPfnQueryThread l_pfnQuery = nullptr;
  if (!OsSysResolve(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread", &l_pfnQuery)) return false;
  const BYTE* const l_pbBase = reinterpret_cast<const BYTE*>(a_hmodule);
  const IMAGE_NT_HEADERS* const l_pnt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      l_pbBase + reinterpret_cast<const IMAGE_DOS_HEADER*>(l_pbBase)->e_lfanew);
  const std::uintptr_t l_uptrBase = reinterpret_cast<std::uintptr_t>(a_hmodule);
  const std::uintptr_t l_uptrEnd = l_uptrBase + l_pnt->OptionalHeader.SizeOfImage;
  const COsHandle l_hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!l_hSnapshot) return false;
  const DWORD l_dwProcess = GetCurrentProcessId(), l_dwSelf = GetCurrentThreadId();
  const DWORD l_dwStart = GetTickCount();
  // The time left of the budget (the tick count wraps; the difference does not).
  const auto l_left = [&]() -> DWORD {
    const DWORD l_dwSpent = GetTickCount() - l_dwStart;
    return l_dwSpent < OS_SOUND_THREADS_MS ? OS_SOUND_THREADS_MS - l_dwSpent : 0;
  };
  bool l_bSawSelf = false;  // a listing that lacks this thread is not whole
  THREADENTRY32 l_threadentry = {};
  l_threadentry.dwSize = sizeof(l_threadentry);
  for (BOOL l_b = Thread32First(l_hSnapshot.Get(), &l_threadentry); l_b;
       l_b = Thread32Next(l_hSnapshot.Get(), &l_threadentry)) {
    if (l_threadentry.th32OwnerProcessID != l_dwProcess) continue;
    if (l_threadentry.th32ThreadID == l_dwSelf) {
      l_bSawSelf = true;
      continue;
    }
    const COsHandle l_hThread(OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, l_threadentry.th32ThreadID));
    if (!l_hThread) {
      if (GetLastError() == ERROR_INVALID_PARAMETER) continue;  // ended since the listing
      return false;
    }
    std::uintptr_t l_uptrStart = 0;
    for (;;) {
      if (l_pfnQuery(l_hThread.Get(), OS_THREAD_START_ADDRESS, &l_uptrStart, sizeof(l_uptrStart), nullptr) < 0)
        return false;
      if (l_uptrStart != 0) break;
      const DWORD l_dwWait = WaitForSingleObject(l_hThread.Get(), l_left() != 0 ? 1 : 0);
      if (l_dwWait == WAIT_OBJECT_0) break;
      if (l_dwWait != WAIT_TIMEOUT || l_left() == 0) return false;
    }
    if (l_uptrStart >= l_uptrBase && l_uptrStart < l_uptrEnd &&
        WaitForSingleObject(l_hThread.Get(), l_left()) != WAIT_OBJECT_0)
      return false;
  }
  return l_bSawSelf;
}

}  // namespace

EOSSTS COsFile::PlaySystemSound(const char* a_szSoundName) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szSoundName, OS_LOG_ERROR, "a_szSoundName is NULL...", OS_STS_BADARG);
  OsPfnPlaySoundW l_pfn = s_pfnPlaySoundW.load();
  if (l_pfn == nullptr) l_pfn = LoadSound();
  if (l_pfn == nullptr) return OS_STS_FAIL;
  // A name that does not convert is not cut into another sound's name
  // (the conversion says so); like any sound, it is not reported.
  wchar_t l_wszName[OS_WPATH_SIZE];
  if (CopyStringFromUtf8(l_wszName, OS_PATH_SIZE, a_szSoundName) > 0) l_pfn(l_wszName, nullptr, OS_SOUND_ALIAS_ASYNC);
  return OS_STS_SUCCESS;
}

void OsFileSoundRelease() {
  // The sound playing is stopped, and the library goes once its threads
  // have ended; one that does not end keeps it loaded, as its code must not
  // vanish under it.
  if (OsPfnPlaySoundW const l_pfn = s_pfnPlaySoundW.exchange(nullptr); l_pfn != nullptr) l_pfn(nullptr, nullptr, 0);
  if (HMODULE const l_hmodule = s_hmoduleWinmm.exchange(nullptr); l_hmodule != nullptr && SoundThreadsEnded(l_hmodule))
    FreeLibrary(l_hmodule);
}
