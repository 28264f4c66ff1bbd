// System sounds, and the sound library kept loaded between them.
#include <atomic>

#include "os_cosfile.h"
#include "os_cosfile_impl.h"
#include "os_coslocale.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_sysinfo.h"
#include "os_win.h"

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
  // An asynchronous sound plays on a thread of the sound library: stopping
  // it waits for that thread to let go, else the code would vanish under it.
  if (OsPfnPlaySoundW const l_pfn = s_pfnPlaySoundW.exchange(nullptr); l_pfn != nullptr) l_pfn(nullptr, nullptr, 0);
  if (HMODULE const l_hmodule = s_hmoduleWinmm.exchange(nullptr); l_hmodule != nullptr) FreeLibrary(l_hmodule);
}
