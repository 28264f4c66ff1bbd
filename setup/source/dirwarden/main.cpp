// dirwarden: prepares the suite's shared, writeable directory tree for all
// users. Starting the services library resolves and creates the tree with
// open access rights; the program then removes the per-program subtree that
// its own start-up created, so that only the shared part remains.
#include <windows.h>

#include <cstring>

#include "os.h"

const char* g_szOsServicesArguments =
    "<arguments>\n\t<uniquename>dirwarden</uniquename>\n\t<entity>application</entity>\n</arguments>";

namespace {

// An elevated process must not follow junctions that a non-administrator
// planted in a tree every user may write. Systems that do not know the
// mitigation go on without it.
void TrustOnlyAdministratorRedirections() {
  typedef BOOL(WINAPI * PfnSetPolicy)(int, PVOID, SIZE_T);
  constexpr int l_iProcessRedirectionTrustPolicy = 16;
  constexpr DWORD l_dwEnforceRedirectionTrust = 0x1;
  const PfnSetPolicy l_pfn = reinterpret_cast<PfnSetPolicy>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy")));
  DWORD l_dwFlags = l_dwEnforceRedirectionTrust;
  if (l_pfn != nullptr) l_pfn(l_iProcessRedirectionTrustPolicy, &l_dwFlags, sizeof(l_dwFlags));
  SetLastError(0);
}

// Libraries loaded from here on come from the system directory only, never
// from the program's folder (often a downloads folder). Systems without the
// call (before Windows 8 and its update) keep their usual search.
void LoadLibrariesFromTheSystemOnly() {
  typedef BOOL(WINAPI * PfnSetDirectories)(DWORD);
  const PfnSetDirectories l_pfn = reinterpret_cast<PfnSetDirectories>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  // Without it, at least the current directory leaves the search.
  if (l_pfn == nullptr || !l_pfn(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
  SetLastError(0);
}

}  // namespace

// The wide entry point: a company name outside the ANSI code page arrives
// intact and is handed on unchanged.
int wmain(int argc, wchar_t** argv) {
  LoadLibrariesFromTheSystemOnly();
  TrustOnlyAdministratorRedirections();
  if (argc > 1) SetEnvironmentVariableW(L"QRX_COMPANYNAMESHORT", argv[1]);
  SetEnvironmentVariableW(L"QRX_FORCESETACCESS", L"1");

  OsServicesStart(nullptr);

  // The items' texts belong to the configuration: copied before shut-down.
  char l_szUserRoot[OS_PATH_SIZE] = "";
  char l_szBase[OS_PATH_SIZE] = "";
  COsCfg* const l_poscfg = OsCfgInstance();
  if (l_poscfg != nullptr) {
    const char* const l_szItem = l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_USERROOTDIRECTORY);
    const char* const l_szRoot = l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_ROOTPATH);
    if (l_szItem != nullptr) SStrCpy(l_szUserRoot, sizeof(l_szUserRoot), l_szItem);
    if (l_szRoot != nullptr) SStrCpy(l_szBase, sizeof(l_szBase), l_szRoot);
  }
  // The folder that holds the company folder: the delete holds everything
  // below it open, so that nobody can bend the path through a link meanwhile.
  char* const l_pszSeparator = std::strrchr(l_szBase, '\\');
  if (l_pszSeparator != nullptr) *l_pszSeparator = 0;

  OsServicesStop();

  // After shut-down: the log file and the log directory's lock file lie in
  // this subtree and are closed by then.
  OsFileDeleteIn(l_szBase, l_szUserRoot, OS_FILE_TYPE_DIRECTORY, true);
  return 0;
}
