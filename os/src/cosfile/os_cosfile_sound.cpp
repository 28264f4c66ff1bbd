// System sounds, and the sound library kept loaded between them.
#include <atomic>

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

// An asynchronous sound plays on a thread the sound library starts. Stopping
// the sound waits only for a thread that has begun to play: one just made
// may not have run yet, and would start in code that is gone. Waits for
// every thread of this process that starts in a_hmodule, up to 2 s each;
// false when one still runs, or its start cannot be told, or the threads
// cannot be listed. (Wine tells a thread's start only once it has run; a
// thread that shows none is given up to 2 s to run or end.)
bool SoundThreadsEnded(HMODULE a_hmodule) {
  typedef LONG(WINAPI * OsPfnQueryThread)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  constexpr ULONG OS_THREAD_START_ADDRESS = 9;  // ThreadQuerySetWin32StartAddress
  OsPfnQueryThread l_pfnQuery = nullptr;
  if (!OsSysResolve(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread", &l_pfnQuery)) return false;
  const BYTE* const l_pbBase = reinterpret_cast<const BYTE*>(a_hmodule);
  const IMAGE_NT_HEADERS* const l_pnt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      l_pbBase + reinterpret_cast<const IMAGE_DOS_HEADER*>(l_pbBase)->e_lfanew);
  const BYTE* const l_pbEnd = l_pbBase + l_pnt->OptionalHeader.SizeOfImage;
  const COsHandle l_hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!l_hSnapshot) return false;
  const DWORD l_dwProcess = GetCurrentProcessId(), l_dwSelf = GetCurrentThreadId();
  bool l_bEnded = true;
  THREADENTRY32 l_threadentry = {};
  l_threadentry.dwSize = sizeof(l_threadentry);
  for (BOOL l_b = Thread32First(l_hSnapshot.Get(), &l_threadentry); l_b;
       l_b = Thread32Next(l_hSnapshot.Get(), &l_threadentry)) {
    if (l_threadentry.th32OwnerProcessID != l_dwProcess || l_threadentry.th32ThreadID == l_dwSelf) continue;
    const COsHandle l_hThread(OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, l_threadentry.th32ThreadID));
    if (!l_hThread) continue;  // ended already
    const BYTE* l_pbStart = nullptr;
    bool l_bGone = false;
    for (int l_iMs = 0; l_iMs < 2000 && l_pbStart == nullptr && !l_bGone; ++l_iMs) {
      if (l_pfnQuery(l_hThread.Get(), OS_THREAD_START_ADDRESS, &l_pbStart, sizeof(l_pbStart), nullptr) < 0) break;
      if (l_pbStart == nullptr) l_bGone = WaitForSingleObject(l_hThread.Get(), 1) == WAIT_OBJECT_0;
    }
    if (l_bGone) continue;
    if (l_pbStart == nullptr) {
      l_bEnded = false;
    } else if (l_pbStart >= l_pbBase && l_pbStart < l_pbEnd) {
      l_bEnded = WaitForSingleObject(l_hThread.Get(), 2000) == WAIT_OBJECT_0 && l_bEnded;
    }
  }
  return l_bEnded;
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
