// Shared libraries held by a file object: loading with an alternate name,
// procedures by plain and by decorated name.
#include <cstring>

#include "os_coscfg_services.h"
#include "os_cosfile.h"
#include "os_cosfile_impl.h"
#include "os_coslocale.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_win.h"

#define OS_FILE_IMPL_OR_RETURN(a_ret) OS_RETURN_IF_NULL(m_posfileimpl, OS_LOG_ASSERT, "m_posfileimpl is null...", a_ret)

namespace {

// Room for a decorated name: the templates add about 50 characters to the
// procedure text, which is itself a path-sized text at most.
constexpr std::size_t OS_LIBPROC_NAME_SIZE = 1024;

// The decorated forms of a callback, as the suite's 32-bit compiler names
// them: 0 to 2 a static member function returning EOSSTS and taking the
// callback record, private, protected and public (name, inner scope, outer
// scope); 3 a free function (the whole procedure text and the outer scope).
// The characters written, or -1 when the name does not fit.
int Decorate(char* a_sz, std::size_t a_sizet, bool a_bXml, int a_iForm, const char* a_szProcedure, const char* a_szName,
             int a_iInner, const char* a_szOuter) {
  switch (a_iForm) {
    case 0:
      return a_bXml ? SStrPrintf(a_sz, a_sizet, "?%s@%.*s@%s@CA?AW4EOSSTS@@PAUOsXmlCallback@@@Z", a_szName, a_iInner,
                                 a_szName, a_szOuter)
                    : SStrPrintf(a_sz, a_sizet, "?%s@%.*s@%s@CA?AW4EOSSTS@@PAUSimCallback@@@Z", a_szName, a_iInner,
                                 a_szName, a_szOuter);
    case 1:
      return a_bXml ? SStrPrintf(a_sz, a_sizet, "?%s@%.*s@%s@KA?AW4EOSSTS@@PAUOsXmlCallback@@@Z", a_szName, a_iInner,
                                 a_szName, a_szOuter)
                    : SStrPrintf(a_sz, a_sizet, "?%s@%.*s@%s@KA?AW4EOSSTS@@PAUSimCallback@@@Z", a_szName, a_iInner,
                                 a_szName, a_szOuter);
    case 2:
      return a_bXml ? SStrPrintf(a_sz, a_sizet, "?%s@%.*s@%s@SA?AW4EOSSTS@@PAUOsXmlCallback@@@Z", a_szName, a_iInner,
                                 a_szName, a_szOuter)
                    : SStrPrintf(a_sz, a_sizet, "?%s@%.*s@%s@SA?AW4EOSSTS@@PAUSimCallback@@@Z", a_szName, a_iInner,
                                 a_szName, a_szOuter);
    default: return SStrPrintf(a_sz, a_sizet, "?%s@@YA?AW4EOSSTS@%s@PAUSimCallback@@@Z", a_szProcedure, a_szOuter);
  }
}

void* ProcAddress(HMODULE a_hmodule, const char* a_szName) {
  return reinterpret_cast<void*>(GetProcAddress(a_hmodule, a_szName));
}

}  // namespace

EOSSTS COsFile::SharedLibraryLoad(const char* a_szLibrary, EOSFILEOPEN a_eosfileopen, const char* a_szAlternate,
                                  std::uint32_t a_u32Flags) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_LOGI("SharedLibraryLoad(%s,%d,%s,0x%x)", a_szLibrary != nullptr ? a_szLibrary : "",
          static_cast<int>(a_eosfileopen), a_szAlternate != nullptr ? a_szAlternate : "", a_u32Flags);
  OS_RETURN_IF(a_szAlternate != nullptr && a_szAlternate[0] != '+', OS_LOG_ASSERT,
               "Alternate library must started with + sign", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szLibrary, OS_LOG_ERROR, "a_szLibrary is NULL...", OS_STS_BADARG);
  OS_RETURN_IF(a_eosfileopen != OS_FILE_OPEN_CREATE && a_eosfileopen != OS_FILE_OPEN_EXISTING, OS_LOG_ERROR,
               "Unrecognized a_eosfileopen...%d", OS_STS_BADARG, static_cast<int>(a_eosfileopen));
  // One library per object: a second load must not lose the first.
  SharedLibraryFree();
  COsFileImpl* const l_pimpl = m_posfileimpl;

  wchar_t l_wszLibrary[OS_WPATH_SIZE];
  if (CopyStringFromUtf8(l_wszLibrary, OS_PATH_SIZE, a_szLibrary) <= 0) l_wszLibrary[0] = 0;
  HMODULE l_hmodule = nullptr;
  if (l_wszLibrary[0] != 0 && a_eosfileopen == OS_FILE_OPEN_CREATE) {
    // The library's own start-up reads the arguments from the environment.
    const OsServicesState& l_state = OsServicesGetState();
    if (l_state.m_szInherited[0] != 0) OsServicesWriteArguments(l_state.m_szInherited);
    OS_LOGI("LoadLibrary(%s) - new", a_szLibrary);
    try {
      l_hmodule = (a_u32Flags & OS_LIBRARY_ALTERED_SEARCH_PATH) != 0
                      ? LoadLibraryExW(l_wszLibrary, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                      : LoadLibraryW(l_wszLibrary);
    } catch (...) {
      OS_LOGE("LoadLibrary threw an exception...%s", a_szLibrary);
      l_hmodule = nullptr;
    }
    if (l_hmodule != nullptr) OS_LOGI("LoadLibrary succeeded...<%s>", a_szLibrary);
  } else if (l_wszLibrary[0] != 0) {
    OS_LOGI("LoadLibrary(%s) - existing", a_szLibrary);
    l_hmodule = GetModuleHandleW(l_wszLibrary);
  }
  if (l_hmodule != nullptr) {
    OS_LOGI("SharedLibrary: load %p <%s>", static_cast<void*>(l_hmodule), a_szLibrary);
    l_pimpl->m_hmodule = l_hmodule;
    l_pimpl->m_u32ModuleOwned = a_eosfileopen == OS_FILE_OPEN_CREATE ? 1 : 0;
    return OS_STS_SUCCESS;
  }

  if (a_szAlternate != nullptr) {
    // A name that does not fit would name another library: it is not tried.
    char l_szAlternate[OS_PATH_SIZE];
    if (SStrPrintf(l_szAlternate, sizeof(l_szAlternate), "%s%s", a_szLibrary, a_szAlternate + 1) < 0) {
      SetLastError(0);
      return OS_STS_FAIL;
    }
    return SharedLibraryLoad(l_szAlternate, a_eosfileopen, nullptr, 0);
  }
  if (a_eosfileopen == OS_FILE_OPEN_CREATE) OS_LOGI("LoadLibrary failed...<%s>", a_szLibrary);
  SetLastError(0);
  return OS_STS_FAIL;
}

void* COsFile::SharedLibraryGetProc(const char* a_szProcedure, void* a_hModule, EOSLIBPROC a_eoslibproc) {
  OS_FILE_IMPL_OR_RETURN(nullptr);
  OS_RETURN_IF_NULL(a_szProcedure, OS_LOG_ERROR, "a_szProcedure is NULL...", nullptr);
  HMODULE l_hmodule = static_cast<HMODULE>(a_hModule);
  if (a_hModule == OsLibrarySelf()) {
    OS_RETURN_IF_NULL(m_posfileimpl->m_hmodule, OS_LOG_ERROR, "Must open a library first...", nullptr);
    l_hmodule = m_posfileimpl->m_hmodule;
  }
  if (a_eoslibproc == OS_LIBPROC_PLAIN) return ProcAddress(l_hmodule, a_szProcedure);
  OS_RETURN_IF(a_eoslibproc != OS_LIBPROC_XMLCALLBACK && a_eoslibproc != OS_LIBPROC_SIMCALLBACK, OS_LOG_ASSERT,
               "Unrecognized %d...", nullptr, static_cast<int>(a_eoslibproc));

  // "Outer::inner_Name": scope "Outer@", name "inner_Name", class "inner".
  char l_szOuter[OS_PATH_SIZE] = {};
  const char* l_szName = a_szProcedure;
  if (const char* const l_szColons = std::strstr(a_szProcedure, "::"); l_szColons != nullptr) {
    const std::size_t l_sizetOuter = static_cast<std::size_t>(l_szColons - a_szProcedure);
    OS_RETURN_IF(l_sizetOuter + 2 > sizeof(l_szOuter), OS_LOG_ASSERT, "Badly constructed szProcedure...<%s>", nullptr,
                 a_szProcedure);
    std::memcpy(l_szOuter, a_szProcedure, l_sizetOuter);
    l_szOuter[l_sizetOuter] = '@';
    l_szName = l_szColons + 2;
  }
  const char* const l_szUnderscore = std::strchr(l_szName, '_');
  OS_RETURN_IF_NULL(l_szUnderscore, OS_LOG_ASSERT, "Badly constructed szProcedure...<%s>", nullptr, a_szProcedure);
  const int l_iInner = static_cast<int>(l_szUnderscore - l_szName);

  // The member forms in order; a simulator callback may also be a free function.
  const bool l_bXml = a_eoslibproc == OS_LIBPROC_XMLCALLBACK;
  char l_szDecorated[OS_LIBPROC_NAME_SIZE] = {};
  for (int l_iForm = 0; l_iForm < (l_bXml ? 3 : 4); ++l_iForm) {
    if (Decorate(l_szDecorated, sizeof(l_szDecorated), l_bXml, l_iForm, a_szProcedure, l_szName, l_iInner, l_szOuter) <
        0)
      continue;
    if (void* const l_pv = ProcAddress(l_hmodule, l_szDecorated); l_pv != nullptr) return l_pv;
  }
  OS_LOGA("::GetProcAddress failed...<%s>", l_szDecorated);
  return nullptr;
}

EOSSTS COsFile::SharedLibraryFree() {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  COsFileImpl* const l_pimpl = m_posfileimpl;
  if (l_pimpl->m_hmodule == nullptr) return OS_STS_SUCCESS;
  OS_LOGI("SharedLibrary: free %p", static_cast<void*>(l_pimpl->m_hmodule));
  if (l_pimpl->m_u32ModuleOwned != 0) FreeLibrary(l_pimpl->m_hmodule);
  l_pimpl->m_hmodule = nullptr;
  l_pimpl->m_u32ModuleOwned = 0;
  return OS_STS_SUCCESS;
}

bool COsFile::SharedLibraryIsLoaded() {
  OS_FILE_IMPL_OR_RETURN(false);
  return m_posfileimpl->m_hmodule != nullptr;
}

bool SharedLibraryExists(const char* a_szName) {
  OS_RETURN_IF_NULL(a_szName, OS_LOG_ASSERT, "a_szFilename is null...", false);
  OS_RETURN_IF(a_szName[0] == 0, OS_LOG_ASSERT, "a_szFilename is empty...", false);
  if (std::strstr(a_szName, ".dll") != nullptr || std::strstr(a_szName, ".DLL") != nullptr)
    OS_LOGA("badly formed name (don't include the extension!)...");
  char l_szPath[OS_PATH_SIZE];
  if (SStrPrintf(l_szPath, sizeof(l_szPath), "%s.dll", a_szName) < 0) return false;
  OsFilePathNormalize(l_szPath, '\\');
  return OsFileExists(l_szPath);
}
