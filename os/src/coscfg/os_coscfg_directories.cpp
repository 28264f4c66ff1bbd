// The directory layout: every directory and file name of the suite for the
// running process, the writeable tree and its access, log-directory rotation.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "os_coscfg_fullpath.h"
#include "os_coscfg_impl.h"
#include "os_coscfg_profile.h"
#include "os_coscfg_sysinfo.h"
#include "os_cosfile.h"
#include "os_coslocale.h"
#include "os_coslog.h"
#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_costhread.h"
#include "os_costime.h"
#include "os_log.h"
#include "os_memnew.h"
#include "os_scoped.h"
#include "os_sysinfo.h"
#include "os_win.h"

#include <shlobj.h>

namespace {

constexpr int OS_CSIDL_COMMON_APPDATA = 35;
constexpr int OS_CSIDL_DESKTOPDIRECTORY = 16;
constexpr int OS_INTEGRITY_PROTECTED_LOW = 1;
constexpr int OS_LOG_ROTATION_SLOTS = 16;
constexpr std::int64_t OS_LOG_ROTATION_AGE_MS = 9999;

const GUID s_guidLocalAppDataLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
const GUID s_guidInternetCache = {0x352481E8, 0x33BE, 0x4251, {0xBA, 0x85, 0x60, 0x07, 0xCA, 0xED, 0xCF, 0x9D}};

// path = a, then b (one backslash; a drive of b is dropped; normalized).
// A member that does not fit, or that would stand on an empty path (a place
// at the drive's root), stays empty: it names nothing.
bool JoinMember(char* a_szOut, const char* a_szA, const char* a_szB) {
  if (a_szA[0] != 0 && OsFilePathJoin(a_szOut, OS_PATH_SIZE, a_szA, a_szB)) return true;
  a_szOut[0] = 0;
  return false;
}

void Join(char* a_szOut, const char* a_szA, const char* a_szB) { JoinMember(a_szOut, a_szA, a_szB); }

// The joins of the members that the layout creates or the process writes
// in: one that does not fit refuses the whole layout, before anything is
// created (an empty member would name a place at the drive's root).
class CTreeJoins {
 public:
  void operator()(char* a_szOut, const char* a_szA, const char* a_szB) {
    if (!JoinMember(a_szOut, a_szA, a_szB)) m_bFits = false;
  }
  // A member built by other means, empty when it did not fit.
  void Require(const char* a_szMember) {
    if (a_szMember[0] == 0) m_bFits = false;
  }
  bool Fit() const { return m_bFits; }

 private:
  bool m_bFits = true;
};

void FromWide(const wchar_t* a_wsz, char* a_sz) {
  a_sz[0] = 0;
  char l_sz[OS_PATH_SIZE + 1];
  if (CopyUtf8FromUnicode(l_sz, sizeof(l_sz), a_wsz, -1) <= 0 || !OsFilePathCopy(a_sz, OS_PATH_SIZE, l_sz)) a_sz[0] = 0;
}

// A known folder through the shell's newer interface (Vista and later);
// empty where it is missing or fails.
void KnownFolder(const GUID& a_guid, DWORD a_dwFlags, char* a_sz) {
  a_sz[0] = 0;
  wchar_t l_wszLibrary[MAX_PATH];
  if (!OsSysLibraryPath(L"SHELL32.DLL", l_wszLibrary, MAX_PATH)) return;
  COsModule l_module(LoadLibraryW(l_wszLibrary));
  wchar_t l_wszOle32[MAX_PATH];
  COsModule l_ole32(OsSysLibraryPath(L"ole32.dll", l_wszOle32, MAX_PATH) ? LoadLibraryW(l_wszOle32) : nullptr);
  HMODULE const l_hole32 = l_ole32.Get();
  typedef HRESULT(WINAPI * PfnKnown)(const GUID&, DWORD, HANDLE, PWSTR*);
  typedef void(WINAPI * PfnFree)(LPVOID);
  const PfnKnown l_pfn =
      l_module
          ? reinterpret_cast<PfnKnown>(reinterpret_cast<void*>(GetProcAddress(l_module.Get(), "SHGetKnownFolderPath")))
          : nullptr;
  const PfnFree l_pfnFree =
      l_hole32 != nullptr
          ? reinterpret_cast<PfnFree>(reinterpret_cast<void*>(GetProcAddress(l_hole32, "CoTaskMemFree")))
          : nullptr;
  if (l_pfn == nullptr || l_pfnFree == nullptr) {
    SetLastError(0);
    return;
  }
  PWSTR l_pwsz = nullptr;
  if (SUCCEEDED(l_pfn(a_guid, a_dwFlags, nullptr, &l_pwsz)) && l_pwsz != nullptr) FromWide(l_pwsz, a_sz);
  if (l_pwsz != nullptr) l_pfnFree(l_pwsz);
  SetLastError(0);
}

// A folder through the older interface of shfolder.dll; false when the
// library cannot be had or the folder not be read.
bool FolderPath(int a_iCsidl, char* a_sz) {
  a_sz[0] = 0;
  wchar_t l_wszLibrary[MAX_PATH];
  COsModule l_module(OsSysLibraryPath(L"shfolder.dll", l_wszLibrary, MAX_PATH) ? LoadLibraryW(l_wszLibrary) : nullptr);
  if (!l_module) {
    OS_LOGA("LoadLibrary failed...");
    SetLastError(0);
    return false;
  }
  typedef HRESULT(WINAPI * PfnFolder)(HWND, int, HANDLE, DWORD, LPWSTR);
  const PfnFolder l_pfn =
      reinterpret_cast<PfnFolder>(reinterpret_cast<void*>(GetProcAddress(l_module.Get(), "SHGetFolderPathW")));
  wchar_t l_wsz[MAX_PATH];
  if (l_pfn != nullptr && SUCCEEDED(l_pfn(nullptr, a_iCsidl, nullptr, 0, l_wsz))) FromWide(l_wsz, a_sz);
  SetLastError(0);
  return a_sz[0] != 0;
}

// The name of the directory a_iUp levels above the last component of a_szPath.
bool NameAbove(const char* a_szPath, int a_iUp, char* a_szName) {
  char l_sz[OS_PATH_SIZE];
  if (!OsFilePathCopy(l_sz, sizeof(l_sz), a_szPath)) return false;
  for (int l_i = 0; l_i < a_iUp; ++l_i) {
    char* const l_psz = std::strrchr(l_sz, '\\');
    if (l_psz == nullptr) return false;
    *l_psz = 0;
  }
  const char* const l_psz = std::strrchr(l_sz, '\\');
  if (l_psz == nullptr) return false;
  SStrCpy(a_szName, OS_PATH_SIZE, l_psz + 1);
  return true;
}

bool IsUtility(EOSCFGENTITY a_eoscfgentity) {
  return a_eoscfgentity == OS_CFG_ENTITY_UTILITY || a_eoscfgentity == OS_CFG_ENTITY_APPUTILITY;
}

bool Exists(const char* a_sz) { return a_sz[0] != 0 && OsFileExists(a_sz); }

// The program file, its directory and its lower-cased name.
void ProgramFile(COsCfgImpl& a_c) {
  wchar_t l_wszModule[OS_PATH_SIZE];
  wchar_t l_wszFull[OS_PATH_SIZE + 1];
  const DWORD l_dw = GetModuleFileNameW(nullptr, l_wszModule, OS_PATH_SIZE - 2);
  const unsigned long l_ul = l_dw != 0 ? LockGetFullPathName(l_wszModule, l_wszFull, OS_PATH_SIZE + 1) : 0;
  if (l_dw == 0) OS_LOGA("GetModuleFileNameW failed...");
  if (l_dw != 0 && (l_ul == 0 || l_ul > OS_PATH_SIZE)) OS_LOGA("LockGetFullPathName failed...");
  a_c.m_szLibraryPath[0] = 0;
  if (l_ul != 0 && l_ul <= OS_PATH_SIZE) FromWide(l_wszFull, a_c.m_szLibraryPath);
  SStrCpy(a_c.m_szHomeDirectory, OS_PATH_SIZE, a_c.m_szLibraryPath);
  char* const l_psz = std::strrchr(a_c.m_szHomeDirectory, '\\');
  if (l_psz != nullptr) *l_psz = 0;
  const char* const l_pszName = std::strrchr(a_c.m_szLibraryPath, '\\');
  a_c.m_szLibraryName = l_pszName != nullptr ? l_pszName + 1 : a_c.m_szLibraryPath;
  SStrCpy(a_c.m_szProgramFileName, OS_PATH_SIZE, a_c.m_szLibraryName);
  for (char* l_p = a_c.m_szProgramFileName; *l_p != 0; ++l_p)
    if (*l_p >= 'A' && *l_p <= 'Z') *l_p = static_cast<char>(*l_p - 'A' + 'a');
  SetLastError(0);
}

// The roots that overrides and the environment choose.
struct OsCfgOverrides {
  char m_szOverrideRoot[OS_PATH_SIZE];  // "root" of the override profile
  char m_szWriteable[OS_PATH_SIZE];     // the folder that replaces the shell's
  bool m_bShGetFolderPath;              // the writeable folder came from QRX_SHGETFOLDERPATH
};

// The override profile next to the program: its root, or the root of the
// profile that QRX_OVERRIDEINI names, or its writeable folder; without
// either, QRX_SHGETFOLDERPATH gives the writeable folder.
void ReadOverrides(const COsCfgImpl& a_c, OsCfgOverrides& a_overrides) {
  std::memset(&a_overrides, 0, sizeof(a_overrides));
  char l_szProfile[OS_PATH_SIZE];
  SStrCpy(l_szProfile, sizeof(l_szProfile), a_c.m_szLibraryPath);
  char* const l_pszName = std::strrchr(l_szProfile, '\\');
  char* const l_pszDot = std::strrchr(l_pszName != nullptr ? l_pszName : l_szProfile, '.');
  if (l_pszDot != nullptr) *l_pszDot = 0;
  SStrCat(l_szProfile, sizeof(l_szProfile), "_override.ini");
  if (a_c.m_szLibraryPath[0] != 0 && OsFileExists(l_szProfile)) {
    if (OsCfgProfileRead(l_szProfile, "main", "root", a_overrides.m_szOverrideRoot, OS_PATH_SIZE) == OS_STS_SUCCESS &&
        a_overrides.m_szOverrideRoot[0] != 0) {
      OsFilePathNormalize(a_overrides.m_szOverrideRoot, '\\');
      OsCfgSetEnv("QRX_OVERRIDEINI", a_overrides.m_szOverrideRoot);
    } else {
      a_overrides.m_szOverrideRoot[0] = 0;
      char l_szInherited[OS_PATH_SIZE] = "";
      OsCfgGetEnv("QRX_OVERRIDEINI", nullptr, sizeof(l_szInherited), l_szInherited, true);
      if (l_szInherited[0] != 0 &&
          OsCfgProfileRead(l_szInherited, "main", "root", a_overrides.m_szOverrideRoot, OS_PATH_SIZE) == OS_STS_SUCCESS)
        OsFilePathNormalize(a_overrides.m_szOverrideRoot, '\\');
      else
        a_overrides.m_szOverrideRoot[0] = 0;
    }
    if (a_overrides.m_szOverrideRoot[0] == 0 &&
        OsCfgProfileRead(l_szProfile, "main", "writeable", a_overrides.m_szWriteable, OS_PATH_SIZE) != OS_STS_SUCCESS)
      a_overrides.m_szWriteable[0] = 0;
  }
  if (a_overrides.m_szOverrideRoot[0] == 0 && a_overrides.m_szWriteable[0] == 0) {
    OsCfgGetEnv("QRX_SHGETFOLDERPATH", nullptr, OS_PATH_SIZE, a_overrides.m_szWriteable, true);
    // Only a folder that exists replaces the shell's (and so evens the shared paths out).
    a_overrides.m_bShGetFolderPath = a_overrides.m_szWriteable[0] != 0 && OsFileExists(a_overrides.m_szWriteable);
  }
  SetLastError(0);
}

// a_szBase, then a_szPath without its drive (a path re-rooted under a base).
void Reroot(char* a_szOut, const char* a_szBase, const char* a_szPath) {
  Join(a_szOut, a_szBase, std::strlen(a_szPath) > 2 ? a_szPath + 2 : "");
}

// Query mode: the program's model folder (its parent when it is "lib") and
// the folder above it.
EOSSTS AnswerQuery(const COsCfgImpl& a_c, OsCfgQuery& a_query) {
  if (a_query.m_szBrandRoot != nullptr) {
    char l_sz[OS_PATH_SIZE];
    Join(l_sz, a_c.m_szRootWriteableDirectory, "qrx_orvik");
    SStrCpy(a_query.m_szBrandRoot, a_query.m_sizetBrandRoot, l_sz);
  }
  if (a_query.m_szRoot != nullptr) SStrCpy(a_query.m_szRoot, a_query.m_sizetRoot, a_c.m_szRootWriteableDirectory);
  char l_szModel[OS_PATH_SIZE];
  char l_szCompany[OS_PATH_SIZE];
  int l_iUp = 1;
  const bool l_bFound = NameAbove(a_c.m_szLibraryPath, l_iUp, l_szModel) &&
                        (_stricmp(l_szModel, "lib") != 0 || NameAbove(a_c.m_szLibraryPath, ++l_iUp, l_szModel)) &&
                        NameAbove(a_c.m_szLibraryPath, l_iUp + 1, l_szCompany);
  if (!l_bFound) {
    OS_LOGA("slash not found...<%s>", a_c.m_szLibraryPath);
    return OS_STS_FAIL;
  }
  if (a_query.m_szModel != nullptr) SStrCpy(a_query.m_szModel, a_query.m_sizetModel, l_szModel);
  if (a_query.m_szCompany != nullptr) SStrCpy(a_query.m_szCompany, a_query.m_sizetCompany, l_szCompany);
  return OS_STS_SUCCESS;
}

// The profile names by kind; the two const.ini files (or their ".txt"
// forms) replace the profiles where the shared one exists.
void NameProfiles(COsCfgImpl& a_c, CTreeJoins& a_joins) {
  char l_szProfile[OS_PATH_SIZE];
  SStrPrintf(l_szProfile, sizeof(l_szProfile), "%s.ini", a_c.m_szFudge);
  if (IsUtility(a_c.m_eoscfgentity)) {
    a_joins(a_c.m_szConfigFilenameConstIni, a_c.m_szCommonDirectory, "const.ini");
    Join(a_c.m_szSharedConfigFilenameConstIni, a_c.m_szSharedCommonDirectory, "const.ini");
    a_joins(a_c.m_szConfigFilename, a_c.m_szCommonDirectory, l_szProfile);
    Join(a_c.m_szSharedConfigFilename, a_c.m_szSharedCommonDirectory, l_szProfile);
  } else if (std::strcmp(a_c.m_szFudge, "qrx") == 0) {
    a_joins(a_c.m_szConfigFilename, a_c.m_szUserDirectory, "const.ini");
    Join(a_c.m_szSharedConfigFilename, a_c.m_szSharedUserDirectory, "const.ini");
    SStrCpy(a_c.m_szConfigFilenameConstIni, OS_PATH_SIZE, a_c.m_szConfigFilename);
    SStrCpy(a_c.m_szSharedConfigFilenameConstIni, OS_PATH_SIZE, a_c.m_szSharedConfigFilename);
  } else {
    a_joins(a_c.m_szConfigFilenameConstIni, a_c.m_szUserDirectory, "const.ini");
    Join(a_c.m_szSharedConfigFilenameConstIni, a_c.m_szSharedUserDirectory, "const.ini");
    a_joins(a_c.m_szConfigFilename, a_c.m_szUserDirectory, l_szProfile);
    Join(a_c.m_szSharedConfigFilename, a_c.m_szSharedUserDirectory, l_szProfile);
  }
  if (Exists(a_c.m_szSharedConfigFilenameConstIni)) {
    SStrCpy(a_c.m_szConfigFilename, OS_PATH_SIZE, a_c.m_szConfigFilenameConstIni);
    SStrCpy(a_c.m_szSharedConfigFilename, OS_PATH_SIZE, a_c.m_szSharedConfigFilenameConstIni);
  } else {
    SStrCat(a_c.m_szSharedConfigFilenameConstIni, OS_PATH_SIZE, ".txt");
    if (Exists(a_c.m_szSharedConfigFilenameConstIni)) {
      SStrCat(a_c.m_szConfigFilenameConstIni, OS_PATH_SIZE, ".txt");
      a_joins.Require(a_c.m_szConfigFilenameConstIni);
      SStrCpy(a_c.m_szConfigFilename, OS_PATH_SIZE, a_c.m_szConfigFilenameConstIni);
      SStrCpy(a_c.m_szSharedConfigFilename, OS_PATH_SIZE, a_c.m_szSharedConfigFilenameConstIni);
    }
  }
}

// A writeable folder from QRX_SHGETFOLDERPATH: every shared member equals its user member.
void EvenSharedPaths(COsCfgImpl& a_c) {
  SStrCpy(a_c.m_szSharedRootWriteableDirectory, OS_PATH_SIZE, a_c.m_szRootWriteableDirectory);
  SStrCpy(a_c.m_szSharedRootCommonDirectory, OS_PATH_SIZE, a_c.m_szRootCommonDirectory);
  SStrCpy(a_c.m_szSharedUserRootDirectory, OS_PATH_SIZE, a_c.m_szUserRootDirectory);
  SStrCpy(a_c.m_szSharedCommonDirectory, OS_PATH_SIZE, a_c.m_szCommonDirectory);
  SStrCpy(a_c.m_szSharedDeviceDirectory, OS_PATH_SIZE, a_c.m_szCommonDirectory);
  SStrCpy(a_c.m_szSharedUserDirectory, OS_PATH_SIZE, a_c.m_szUserDirectory);
  SStrCpy(a_c.m_szSharedConfigFilenameConstIni, OS_PATH_SIZE, a_c.m_szConfigFilenameConstIni);
  SStrCpy(a_c.m_szSharedConfigFilename, OS_PATH_SIZE, a_c.m_szConfigFilename);
  SStrCpy(a_c.m_szSharedDesktopDirectory, OS_PATH_SIZE, a_c.m_szDesktopDirectory);
}

// A protected-mode copy of the shared tree left by an earlier run goes.
void RemoveVirtualizedCopy(const COsCfgImpl& a_c) {
  if (a_c.m_szVirtualizedDirectory[0] != 0 && a_c.m_szSharedUserRootDirectory[1] == ':') {
    char l_szVirtual[OS_PATH_SIZE];
    const char l_szDrive[2] = {a_c.m_szSharedUserRootDirectory[0], 0};
    if (OsFilePathJoin(l_szVirtual, sizeof(l_szVirtual), a_c.m_szVirtualizedDirectory, l_szDrive) &&
        OsFilePathJoin(l_szVirtual, sizeof(l_szVirtual), l_szVirtual, a_c.m_szSharedUserRootDirectory + 2) &&
        OsFileExists(l_szVirtual)) {
      OS_LOGE("Removing virtualized files...<%s>", l_szVirtual);
      OsFileDelete(l_szVirtual, OS_FILE_TYPE_DIRECTORY, true);
    }
  }
}

// The log directory was made by this start-up (its name carries the
// start-up's time stamp), or, for a utility, chosen by its parent. One that
// was there already was put there by someone else, who may have left links
// to other files under the names this process creates, truncates and
// deletes on close there: its lock file and report are not written.
bool LogDirectoryIsOwn(const COsCfgImpl& a_c) {
  if (IsUtility(a_c.m_eoscfgentity) || a_c.m_eosstsLogDirectory == OS_STS_SUCCESS) return true;
  OS_LOGE("the log directory was there already...<%s>", a_c.m_szLogDirectory);
  return false;
}

// Creates a directory of the writeable tree: nothing inside a link that
// stands in place of the root or a folder below it (259 then). A directory
// outside the tree (a utility's log directory, chosen by its parent) is
// created as it is.
EOSSTS CreateTreeDirectory(const COsCfgImpl& a_c, const char* a_szDirectory, void* a_psecurityattributes) {
  char l_szBase[OS_PATH_SIZE];
  SStrCpy(l_szBase, sizeof(l_szBase), a_c.m_szRootWriteableDirectory);
  char* const l_psz = std::strrchr(l_szBase, '\\');
  if (l_psz != nullptr) *l_psz = 0;
  const std::size_t l_n = std::strlen(l_szBase);
  if (l_psz != nullptr && l_n > 0 && _strnicmp(a_szDirectory, l_szBase, l_n) == 0 && a_szDirectory[l_n] == '\\')
    return OsFileCreateDirectoryIn(l_szBase, a_szDirectory, a_psecurityattributes);
  return OsFileCreateDirectory(a_szDirectory, a_psecurityattributes);
}

}  // namespace

EOSSTS OsCfgSetDirectories(COsCfgImpl* a_poscfgimpl, const OsCfgStartup& a_oscfgstartup, OsCfgQuery* a_pquery) {
  COsCfgImpl& l_c = *a_poscfgimpl;
  // The refusal has been said.
  if (l_c.m_bCompanyRefused) return OS_STS_FAIL;
  const char* const l_szUnique = l_c.m_szFudge;
  ProgramFile(l_c);

  OsCfgOverrides l_overrides;
  ReadOverrides(l_c, l_overrides);
  const char* const l_szOverrideRoot = l_overrides.m_szOverrideRoot;
  char* const l_szWriteable = l_overrides.m_szWriteable;
  const bool l_bShGetFolderPath = l_overrides.m_bShGetFolderPath;

  char l_szLocalLow[OS_PATH_SIZE];
  KnownFolder(s_guidLocalAppDataLow, KF_FLAG_CREATE | KF_FLAG_INIT, l_szLocalLow);
  if (l_szLocalLow[0] != 0) Join(l_szLocalLow, l_szLocalLow, l_c.m_szCompanyNameShort);
  char l_szCache[OS_PATH_SIZE];
  KnownFolder(s_guidInternetCache, 0, l_szCache);
  if (l_szCache[0] != 0) Join(l_c.m_szVirtualizedDirectory, l_szCache, "Virtualized");

  const bool l_bProtected = OsProcessIntegrityGet() == OS_INTEGRITY_PROTECTED_LOW;
  if (l_szOverrideRoot[0] == 0 && l_szWriteable[0] == 0 && l_bProtected)
    SStrCpy(l_szWriteable, OS_PATH_SIZE, l_szLocalLow);
  else
    l_c.m_szVirtualizedDirectory[0] = 0;

  // The model name by entity kind (query mode finds it from the program's folder).
  char l_szLogFile[OS_PATH_SIZE] = "";
  OsLogGetFilename(OsLogInstance(), l_szLogFile, sizeof(l_szLogFile));
  switch (a_pquery != nullptr ? OS_CFG_ENTITY_APPLICATION : l_c.m_eoscfgentity) {
    case OS_CFG_ENTITY_APPLICATION:
    case OS_CFG_ENTITY_DLL:
      SStrCpy(l_c.m_szModelDirectory, OS_PATH_SIZE, l_szUnique);
      SStrCpy(l_c.m_szModelDirectoryReal, OS_PATH_SIZE, l_szUnique);
      break;
    case OS_CFG_ENTITY_DRIVER:
      if (!NameAbove(l_c.m_szLibraryPath, 1, l_c.m_szModelDirectory)) {
        OS_LOGA("OsFilePathSplit failed...<%s>", l_c.m_szLibraryPath);
        return OS_STS_FAIL;
      }
      SStrCpy(l_c.m_szModelDirectoryReal, OS_PATH_SIZE, l_c.m_szModelDirectory);
      break;
    case OS_CFG_ENTITY_UTILITY:
    case OS_CFG_ENTITY_APPUTILITY:
      if (!NameAbove(l_szLogFile, 4, l_c.m_szModelDirectory)) {
        OS_LOGA("slash not found...<%s>", l_szLogFile);
        return OS_STS_FAIL;
      }
      if (!NameAbove(l_c.m_szLibraryPath, 2, l_c.m_szModelDirectoryReal)) l_c.m_szModelDirectoryReal[0] = 0;
      break;
    default: OS_LOGA("Unsupported m_eoscfgentity...%d", static_cast<int>(l_c.m_eoscfgentity)); return OS_STS_FAIL;
  }

  // The writeable root and the shared root.
  CTreeJoins l_joins;
  char l_szAppData[OS_PATH_SIZE] = "";
  const EOSSTS l_eosstsAppData = OsCfgGetEnv("QRX_APPDATADIR", nullptr, sizeof(l_szAppData), l_szAppData, true);
  if (l_eosstsAppData == OS_STS_TOOSMALL) {
    // A folder named but not had: nothing else may stand in for it.
    OsCfgRefuseLayout("QRX_APPDATADIR does not fit...", "QRX_APPDATADIR");
    return OS_STS_FAIL;
  }
  if (l_szAppData[0] == 0 && !FolderPath(OS_CSIDL_COMMON_APPDATA, l_szAppData)) {
    OS_LOGA("SHGetFolderPathW failed...%d", OS_CSIDL_COMMON_APPDATA);
    OsCfgRefuseLayout("no common application-data folder...", "");
    return OS_STS_FAIL;
  }
  OsFilePathNormalize(l_szAppData, '\\');
  // Only a folder named from its drive: a relative one would land in the
  // current directory, whatever that is for an elevated process.
  if (!(l_szAppData[1] == ':' && l_szAppData[2] == '\\') && !(l_szAppData[0] == '\\' && l_szAppData[1] == '\\')) {
    OsCfgRefuseLayout("QRX_APPDATADIR is not a full path...", l_szAppData);
    return OS_STS_FAIL;
  }
  Join(l_c.m_szSharedRootWriteableDirectory, l_szAppData, l_c.m_szRootDirectory);
  if (a_oscfgstartup.m_szRootPath != nullptr && a_oscfgstartup.m_szRootPath[0] != 0) {
    if (!OsFilePathCopy(l_c.m_szRootWriteableDirectory, OS_PATH_SIZE, a_oscfgstartup.m_szRootPath))
      l_c.m_szRootWriteableDirectory[0] = 0;
    if (l_szOverrideRoot[0] != 0)
      SStrCpy(l_c.m_szSharedRootWriteableDirectory, OS_PATH_SIZE, l_c.m_szRootWriteableDirectory);
  } else {
    const char* const l_szBase = l_szOverrideRoot[0] != 0                               ? l_szOverrideRoot
                                 : l_szWriteable[0] != 0 && OsFileExists(l_szWriteable) ? l_szWriteable
                                                                                        : nullptr;
    char l_szRoot[OS_PATH_SIZE];
    if (l_szBase != nullptr)
      l_joins(l_szRoot, l_szBase, std::strlen(l_szAppData) > 2 ? l_szAppData + 2 : "");
    else
      SStrCpy(l_szRoot, sizeof(l_szRoot), l_szAppData);
    l_joins(l_c.m_szRootWriteableDirectory, l_szRoot, l_c.m_szRootDirectory);
  }
  l_joins.Require(l_c.m_szRootWriteableDirectory);
  if (a_pquery != nullptr) {
    if (!l_joins.Fit()) {
      OsCfgRefuseLayout("the directory tree does not fit...", l_c.m_szRootDirectory);
      return OS_STS_FAIL;
    }
    return AnswerQuery(l_c, *a_pquery);
  }

  // The system directory, the log time stamp, the desktop.
  wchar_t l_wszSystem[MAX_PATH];
  char l_szSystem[OS_PATH_SIZE] = "";
  if (GetSystemDirectoryW(l_wszSystem, MAX_PATH) != 0) FromWide(l_wszSystem, l_szSystem);
  if (l_szOverrideRoot[0] != 0) Reroot(l_szSystem, l_szOverrideRoot, l_szSystem);
  Join(l_c.m_szSystemDirectory, l_szSystem, l_c.m_szCompanyNameShort[0] != 0 ? l_c.m_szCompanyNameShort : "orvik");
  OsTimeRecord l_ostimerecord;
  OsTimeGetLocal(&l_ostimerecord, 0);
  if (OsTimeToString(&l_ostimerecord, l_c.m_szLogTimeStamp, OS_PATH_SIZE) != OS_STS_SUCCESS)
    l_joins.Require("");  // no log directory of this start-up can be named
  FolderPath(OS_CSIDL_DESKTOPDIRECTORY, l_c.m_szSharedDesktopDirectory);
  if (l_bProtected)
    l_c.m_szDesktopDirectory[0] = 0;
  else
    SStrCpy(l_c.m_szDesktopDirectory, OS_PATH_SIZE, l_c.m_szSharedDesktopDirectory);

  // The members below the roots.
  const char* const l_szModel = l_c.m_szModelDirectory;
  char l_szCommonName[OS_PATH_SIZE];
  SStrCpy(l_szCommonName, sizeof(l_szCommonName), "common");
  if (IsUtility(l_c.m_eoscfgentity)) {
    // A utility's common directories are named after its unique name up to the first '_'.
    SStrCpy(l_szCommonName, sizeof(l_szCommonName), l_szUnique);
    char* const l_psz = std::strchr(l_szCommonName, '_');
    if (l_psz != nullptr) *l_psz = 0;
  }
  const char* const l_szUserName = std::strcmp(l_szUnique, "qrx") == 0 ? "twain" : l_szUnique;
  Join(l_c.m_szSharedRootCommonDirectory, l_c.m_szSharedRootWriteableDirectory, "common");
  Join(l_c.m_szSharedUserRootDirectory, l_c.m_szSharedRootWriteableDirectory, l_szModel);
  Join(l_c.m_szSharedCommonDirectory, l_c.m_szSharedUserRootDirectory, l_szCommonName);
  Join(l_c.m_szSharedDeviceDirectory, l_c.m_szSharedUserRootDirectory, "device");
  Join(l_c.m_szSharedUserDirectory, l_c.m_szSharedUserRootDirectory, l_szUserName);
  l_joins(l_c.m_szRootCommonDirectory, l_c.m_szRootWriteableDirectory, "common");
  l_joins(l_c.m_szUserRootDirectory, l_c.m_szRootWriteableDirectory, l_szModel);
  l_joins(l_c.m_szCommonDirectory, l_c.m_szUserRootDirectory, l_szCommonName);
  char l_szLogParent[OS_PATH_SIZE];
  if (IsUtility(l_c.m_eoscfgentity)) {
    // A utility writes into the log directory its parent chose.
    SStrCpy(l_c.m_szLogFilename, OS_PATH_SIZE, l_szLogFile);
    SStrCpy(l_c.m_szUserDirectory, OS_PATH_SIZE, l_szLogFile);
    char* const l_psz = std::strrchr(l_c.m_szUserDirectory, '\\');
    if (l_psz != nullptr) *l_psz = 0;
    SStrCpy(l_c.m_szLogDirectory, OS_PATH_SIZE, l_c.m_szUserDirectory);
    SStrCpy(l_c.m_szSharedUserDirectory, OS_PATH_SIZE, "(not valid)");
    SStrCpy(l_szLogParent, sizeof(l_szLogParent), l_c.m_szLogDirectory);
    char* const l_pszParent = std::strrchr(l_szLogParent, '\\');
    if (l_pszParent != nullptr) *l_pszParent = 0;
  } else {
    l_joins(l_c.m_szUserDirectory, l_c.m_szUserRootDirectory, l_szUserName);
    char l_szLogName[OS_PATH_SIZE];
    SStrPrintf(l_szLogName, sizeof(l_szLogName), "log.%s", l_c.m_szLogTimeStamp);
    l_joins(l_c.m_szLogDirectory, l_c.m_szUserDirectory, l_szLogName);
    SStrCpy(l_szLogParent, sizeof(l_szLogParent), l_c.m_szLogDirectory);
    char l_szFile[OS_PATH_SIZE];
    SStrPrintf(l_szFile, sizeof(l_szFile), "%s.log", l_szUnique);
    l_joins(l_c.m_szLogFilename, l_c.m_szLogDirectory, l_szFile);
  }
  SStrCpy(l_c.m_szDriverDirectory, OS_PATH_SIZE, l_c.m_szUserDirectory);
  // The log's own folders carry a trailing separator once the configuration
  // is complete: they must fit with it. A utility started without a log
  // has none of them.
  CTreeJoins l_joinsLog;
  CTreeJoins& l_logJoins = l_c.m_szLogDirectory[0] != 0 ? l_joins : l_joinsLog;
  l_logJoins(l_c.m_szFwDirectory, l_szLogParent, "firmware\\");
  l_logJoins(l_c.m_szPondoDirectory, l_szLogParent, "pondo\\");
  l_logJoins(l_c.m_szUiDirectory, l_szLogParent, "ui\\");
  for (char* l_szMember : {l_c.m_szFwDirectory, l_c.m_szPondoDirectory, l_c.m_szUiDirectory})
    OsFilePathStripTrailing(l_szMember);
  l_logJoins(l_c.m_szTmpDirectory, l_c.m_szLogDirectory, "tmp");
  l_joins(l_c.m_szSimulatorFilename, l_c.m_szCommonDirectory, "ramscan.txt");
  l_logJoins(l_c.m_szGuiFilename, l_c.m_szUserDirectory, "setup001.ini");
  wchar_t l_wszWindows[MAX_PATH];
  char l_szWindows[OS_PATH_SIZE] = "";
  if (GetWindowsDirectoryW(l_wszWindows, MAX_PATH) != 0) FromWide(l_wszWindows, l_szWindows);
  Join(l_c.m_szMultimediaDirectory, l_szWindows, "media");
  if (l_szLocalLow[0] != 0) {
    Join(l_c.m_szLocalLowDirectory, l_szLocalLow,
         std::strlen(l_c.m_szSharedUserRootDirectory) > 2 ? l_c.m_szSharedUserRootDirectory + 2 : "");
  }

  NameProfiles(l_c, l_joins);
  const bool l_bUserFiles = l_szOverrideRoot[0] != 0 || l_c.m_szDesktopDirectory[0] == 0;
  char l_szUserFiles[OS_PATH_SIZE] = "";
  if (l_bUserFiles) l_joins(l_szUserFiles, l_c.m_szUserRootDirectory, "userfiles");
  // The log's lock file and configuration report lie in the log directory's parent and in the log directory.
  char l_szScratch[OS_PATH_SIZE];
  l_logJoins(l_szScratch, l_szLogParent, "log.lock");
  l_logJoins(l_szScratch, l_c.m_szLogDirectory, "qrxoscfg.txt");
  if (!l_joins.Fit()) {
    OsCfgRefuseLayout("the directory tree does not fit...",
                      l_c.m_szRootWriteableDirectory[0] != 0 ? l_c.m_szRootWriteableDirectory : l_c.m_szRootDirectory);
    return OS_STS_FAIL;
  }

  if (l_bShGetFolderPath) EvenSharedPaths(l_c);

  // The writeable tree: the root open to everyone, then its subdirectories.
  // A link standing in place of one of its folders refuses the whole
  // layout: nothing is made in the link's target, and no item names a
  // place through it (the program deletes its own subtree, and the log
  // rotation deletes old log directories, by those names).
  const auto l_linkRefuses = [&](EOSSTS a_eossts, const char* a_szDirectory) {
    if (a_eossts != OS_STS_CANNOTCREATE) return false;
    OsCfgRefuseLayout("a link stands in the tree...", a_szDirectory);
    return true;
  };
  if (l_linkRefuses(CreateTreeDirectory(l_c, l_c.m_szRootWriteableDirectory, OsCfgSecurityAttributes(0)),
                    l_c.m_szRootWriteableDirectory))
    return OS_STS_FAIL;
  if (l_c.m_bForceSetAccess || OsCfgEnvBeginsWith("QRX_FORCESETACCESS", '1'))
    OsCfgSetAccess(l_c.m_szRootWriteableDirectory, 3);
  if (l_bUserFiles) SStrCpy(l_c.m_szDesktopDirectory, OS_PATH_SIZE, l_szUserFiles);
  for (const char* l_szDirectory : {l_c.m_szRootCommonDirectory, l_c.m_szCommonDirectory, l_c.m_szUserDirectory,
                                    l_bUserFiles ? l_c.m_szDesktopDirectory : nullptr}) {
    if (l_szDirectory != nullptr && l_linkRefuses(CreateTreeDirectory(l_c, l_szDirectory, nullptr), l_szDirectory))
      return OS_STS_FAIL;
  }

  if (a_oscfgstartup.m_bOwner) RemoveVirtualizedCopy(l_c);
  if (l_c.m_eosstsLogDirectory == OS_STS_NOTCREATED) {
    l_c.m_eosstsLogDirectory = CreateTreeDirectory(l_c, l_c.m_szLogDirectory, nullptr);
    if (l_linkRefuses(l_c.m_eosstsLogDirectory, l_c.m_szLogDirectory)) return OS_STS_FAIL;
  }
  OsCfgPointDirectoryItems(a_poscfgimpl);
  if (OsCfgIsEnvUnset("QRX_DEBUG") == 0 && LogDirectoryIsOwn(l_c)) OsCfgReport(a_poscfgimpl, l_c.m_szLogDirectory);
  return OS_STS_SUCCESS;
}

void OsCfgRotateLogDirectories(COsCfgImpl* a_poscfgimpl) {
  COsCfgImpl& l_c = *a_poscfgimpl;
  struct WorkArea {
    char m_aszName[OS_LOG_ROTATION_SLOTS][OS_PATH_SIZE];
    char m_szLock[OS_PATH_SIZE];
    char m_szLogDirectory[OS_PATH_SIZE];
  };
  if (!LogDirectoryIsOwn(l_c)) return;
  WorkArea* const l_pwork = static_cast<WorkArea*>(OS_MEM_ALLOC(sizeof(WorkArea), "log rotation"));
  OS_RETURN_IF_NULL(l_pwork, OS_LOG_ASSERT, "OsMemAlloc failed...", );

  // The log directory (up to its "log." component) and its lock file, held
  // open and exclusive while this process uses the directory.
  SStrCpy(l_pwork->m_szLogDirectory, OS_PATH_SIZE, l_c.m_szLogDirectory);
  for (char* l_psz = std::strstr(l_pwork->m_szLogDirectory, "\\log."); l_psz != nullptr;
       l_psz = std::strstr(l_psz + 1, "\\log.")) {
    char* const l_pszEnd = std::strchr(l_psz + 1, '\\');
    if (l_pszEnd != nullptr) *l_pszEnd = 0;
    break;
  }
  if (l_pwork->m_szLogDirectory[0] == 0 ||
      !OsFilePathJoin(l_pwork->m_szLock, OS_PATH_SIZE, l_pwork->m_szLogDirectory, "log.lock")) {
    // Without a log directory there is nothing to rotate, and no place to look.
    OS_MEM_FREE(l_pwork);
    return;
  }
  if (l_c.m_posfileLogLock == nullptr) l_c.m_posfileLogLock = OsMemNew(COsFile, "COsFile");
  if (l_c.m_posfileLogLock != nullptr)
    l_c.m_posfileLogLock->Open(l_pwork->m_szLock, OS_FILE_OPEN_TEMPORARY_NEW, OS_FILE_ACCESS_READWRITE,
                               OS_FILE_SHARE_NONE);

  // How many to keep; logging keeps two more.
  const char* const l_szBackup = l_c.m_aaszItem[OS_CFGSECTION_MAIN][OS_CFGTAG_LOGBACKUP];
  long l_lKeep = std::strtol(l_szBackup != nullptr ? l_szBackup : "3", nullptr, 0);
  if (l_lKeep == -1) {
    OS_MEM_FREE(l_pwork);
    return;
  }
  if (l_lKeep != 0 && (OsLogGetDebug(OsLogInstance()) != 0 || std::strcmp(l_c.m_szLogDebug, "0") != 0)) l_lKeep += 2;

  char l_szPattern[OS_PATH_SIZE];
  SStrCpy(l_szPattern, sizeof(l_szPattern), l_pwork->m_szLogDirectory);
  char* l_psz = std::strrchr(l_szPattern, '\\');
  if (l_psz != nullptr) *l_psz = 0;
  l_psz = std::strrchr(l_szPattern, '\\');
  if (l_psz != nullptr && std::strstr(l_psz, "log.") != nullptr) *l_psz = 0;
  if (l_psz == nullptr || !OsFilePathAppend(l_szPattern, sizeof(l_szPattern), "log.*")) {
    OS_MEM_FREE(l_pwork);
    return;
  }

  OsTimeRecord l_ostimerecordNow;
  OsTimeGetUtc(&l_ostimerecordNow);
  int l_iFound = 0;
  OsFileInfo l_info;
  for (EOSSTS l_eossts = OsFileFindFirst(l_szPattern, &l_info); l_eossts == OS_STS_SUCCESS;
       l_eossts = OsFileFindNext(&l_info)) {
    if (l_info.m_eosfiletype != OS_FILE_TYPE_DIRECTORY) continue;
    if (OsTimeCompare(&l_ostimerecordNow, &l_info.m_ostimerecordModified) <= OS_LOG_ROTATION_AGE_MS) continue;
    if (_stricmp(l_info.m_szFullPath, l_pwork->m_szLogDirectory) == 0) continue;
    SStrCpy(l_pwork->m_aszName[l_iFound % OS_LOG_ROTATION_SLOTS], OS_PATH_SIZE, l_info.m_szFullPath);
    ++l_iFound;
  }
  OsFileFindClose(&l_info);
  const int l_iCount = l_iFound < OS_LOG_ROTATION_SLOTS ? l_iFound : OS_LOG_ROTATION_SLOTS;
  // Newest time stamp first.
  std::qsort(l_pwork->m_aszName, static_cast<std::size_t>(l_iCount), OS_PATH_SIZE,
             [](const void* a_pv1, const void* a_pv2) {
               return -std::strcmp(static_cast<const char*>(a_pv1), static_cast<const char*>(a_pv2));
             });
  for (int l_i = static_cast<int>(l_lKeep < 0 ? 0 : l_lKeep); l_i < l_iCount; ++l_i) {
    char l_szLock[OS_PATH_SIZE];
    if (!OsFilePathJoin(l_szLock, sizeof(l_szLock), l_pwork->m_aszName[l_i], "log.lock")) continue;
    COsFile l_lock;
    // A directory whose lock another process holds is in use.
    if (l_lock.Open(l_szLock, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_NONE) == OS_STS_SHARING)
      continue;
    l_lock.Close();
    OsFileDelete(l_pwork->m_aszName[l_i], OS_FILE_TYPE_DIRECTORY, true);
  }
  OS_MEM_FREE(l_pwork);
}
