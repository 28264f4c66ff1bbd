// The configuration object: construction, defaults, brand, application
// identification, destruction.
#include <cstdlib>
#include <cstring>

#include "os_coscfg_impl.h"
#include "os_coscfg_sysinfo.h"
#include "os_cosfile.h"
#include "os_coslog.h"
#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_cosxml.h"
#include "os_log.h"
#include "os_memnew.h"
#include "os_win.h"

namespace {

constexpr char s_szDefaultRoot[] = "qrx_orvik";

// Local items: three hexadecimal addresses in the extra text; the counts are
// the entries before each table's end, each raised by one.
void ReadLocalTables(COsCfgImpl* a_poscfgimpl, const char* a_szExtra) {
  if (a_szExtra == nullptr) return;
  char l_szValue[32];
  std::uintptr_t l_auAddress[3] = {};
  static const char* const s_aszTag[3][2] = {
      {"<cfgsectionptr>", "</cfgsectionptr>"}, {"<cfgtagptr>", "</cfgtagptr>"}, {"<cfgdataptr>", "</cfgdataptr>"}};
  for (int l_i = 0; l_i < 3; ++l_i) {
    if (OsXmlGetTagValue(a_szExtra, s_aszTag[l_i][0], s_aszTag[l_i][1], l_szValue, sizeof(l_szValue)) != OS_STS_SUCCESS)
      return;
    l_auAddress[l_i] = static_cast<std::uintptr_t>(StrHexToU64(l_szValue));
    if (l_auAddress[l_i] == 0) return;
  }
  const OsCfgName* const l_psections = reinterpret_cast<const OsCfgName*>(l_auAddress[0]);
  const OsCfgName* const l_ptags = reinterpret_cast<const OsCfgName*>(l_auAddress[1]);
  int l_iSections = 0;
  int l_iTags = 0;
  while (l_psections[l_iSections].m_szName != nullptr) ++l_iSections;
  while (l_ptags[l_iTags].m_szName != nullptr) ++l_iTags;
  if (l_iSections == 0 || l_iTags == 0) return;
  a_poscfgimpl->m_posLocalSections = l_psections;
  a_poscfgimpl->m_posLocalTags = l_ptags;
  a_poscfgimpl->m_paszLocalData = reinterpret_cast<const char* const*>(l_auAddress[2]);
  a_poscfgimpl->m_iLocalSections = l_iSections + 1;
  a_poscfgimpl->m_iLocalTags = l_iTags + 1;
}

// The module the library lives in: the program itself, or the library that
// holds this code.
HMODULE LibraryModule() {
  HMODULE l_hmodule = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&LibraryModule), &l_hmodule);
  return l_hmodule;
}

// The raw bytes of a resource of the library's module, or null.
const char* ReadLocalResource(const wchar_t* a_wszName, const wchar_t* a_wszType, DWORD* a_pdwSize) {
  HMODULE const l_hmodule = LibraryModule();
  HRSRC const l_hrsrc = FindResourceW(l_hmodule, a_wszName, a_wszType);
  if (l_hrsrc == nullptr) {
    SetLastError(0);
    return nullptr;
  }
  HGLOBAL const l_hglobal = LoadResource(l_hmodule, l_hrsrc);
  *a_pdwSize = SizeofResource(l_hmodule, l_hrsrc);
  return l_hglobal != nullptr ? static_cast<const char*>(LockResource(l_hglobal)) : nullptr;
}

void SetBrandMember(char* a_szMember, const char* a_szBrand, const char* a_szOpening, const char* a_szClosing) {
  char l_sz[OS_PATH_SIZE];
  if (OsXmlGetTagValue(a_szBrand, a_szOpening, a_szClosing, l_sz, sizeof(l_sz)) == OS_STS_SUCCESS)
    SStrCpy(a_szMember, OS_PATH_SIZE, l_sz);
}

void ReadBrand(COsCfgImpl* a_poscfgimpl) {
  char l_szCompany[OS_PATH_SIZE];
  if (OsCfgGetEnv("QRX_COMPANYNAMESHORT", nullptr, sizeof(l_szCompany), l_szCompany, true) == OS_STS_SUCCESS &&
      l_szCompany[0] != 0) {
    if (!OsCfgCompanyNameIsSafe(l_szCompany)) {
      // The name is joined under the common application-data folder by an
      // elevated process: one that leaves that folder is refused.
      OS_LOGE("company name refused...<%s>", l_szCompany);
      a_poscfgimpl->m_bCompanyRefused = true;
      return;
    }
    SStrCpy(a_poscfgimpl->m_szRootDirectory, OS_PATH_SIZE, l_szCompany);
    SStrCpy(a_poscfgimpl->m_szCompanyName, OS_PATH_SIZE, l_szCompany);
    SStrCpy(a_poscfgimpl->m_szCompanyNameShort, OS_PATH_SIZE, l_szCompany);
    return;
  }
  SStrCpy(a_poscfgimpl->m_szRootDirectory, OS_PATH_SIZE, s_szDefaultRoot);
  DWORD l_dwSize = 0;
  const char* const l_pc = ReadLocalResource(L"BRAND", MAKEINTRESOURCEW(10) /* RCDATA */, &l_dwSize);
  if (l_pc == nullptr) return;
  std::size_t l_sizet = l_dwSize;
  if (l_sizet >= OS_CFG_BRAND_SIZE) {
    OS_LOGA("m_szBrand too small...");
    l_sizet = OS_CFG_BRAND_SIZE - 1;  // the text is cut to the brand buffer
  }
  std::memcpy(a_poscfgimpl->m_szBrand, l_pc, l_sizet);
  a_poscfgimpl->m_szBrand[l_sizet] = 0;
  const char* const l_szBrand = a_poscfgimpl->m_szBrand;
  char l_sz[OS_PATH_SIZE];
  if (OsXmlGetTagValue(l_szBrand, "<companyname>", "</companyname>", l_sz, sizeof(l_sz)) == OS_STS_SUCCESS) {
    SStrCpy(a_poscfgimpl->m_szCompanyName, OS_PATH_SIZE, l_sz);
    SStrCpy(a_poscfgimpl->m_szProductFamily, OS_PATH_SIZE, "Paperlund");
  }
  if (OsXmlGetTagValue(l_szBrand, "<companynameshort>", "</companynameshort>", l_sz, sizeof(l_sz)) == OS_STS_SUCCESS) {
    SStrCpy(a_poscfgimpl->m_szCompanyNameShort, OS_PATH_SIZE, l_sz);
    if (_stricmp(l_sz, "Orvik") != 0 && OsCfgCompanyNameIsSafe(l_sz))
      SStrCpy(a_poscfgimpl->m_szRootDirectory, OS_PATH_SIZE, l_sz);
  }
  SetBrandMember(a_poscfgimpl->m_szCopyright, l_szBrand, "<copyright>", "</copyright>");
  SetBrandMember(a_poscfgimpl->m_szProductName, l_szBrand, "<productname>", "</productname>");
  SetBrandMember(a_poscfgimpl->m_szUrlCompany, l_szBrand, "<urlcompany>", "</urlcompany>");
  SetBrandMember(a_poscfgimpl->m_szUrlSupport, l_szBrand, "<urlsupport>", "</urlsupport>");
  SetBrandMember(a_poscfgimpl->m_szUrlSupportModel, l_szBrand, "<urlsupportmodel>", "</urlsupportmodel>");
  SetBrandMember(a_poscfgimpl->m_szMacMfgIdentity, l_szBrand, "<macmfgidentity>", "</macmfgidentity>");
}

void SetDefaults(COsCfgImpl* a_poscfgimpl) {
  std::memset(a_poscfgimpl->m_aaszItem, 0, sizeof(a_poscfgimpl->m_aaszItem));
  std::memset(a_poscfgimpl->m_szFileData, 0, sizeof(a_poscfgimpl->m_szFileData));
  for (const OsCfgDefault* l_p = s_aoscfgdefault; l_p->m_szText != nullptr; ++l_p)
    a_poscfgimpl->m_aaszItem[l_p->m_iSection][l_p->m_iTag] = l_p->m_szText;
  auto& l_items = a_poscfgimpl->m_aaszItem[OS_CFGSECTION_MAIN];
  l_items[OS_CFGTAG_DEBUG] = a_poscfgimpl->m_szLogDebug;
  l_items[OS_CFGTAG_DEBUGFILTER] = a_poscfgimpl->m_szLogFilter;
  l_items[OS_CFGTAG_DEBUGDISPLAYLENGTH] = a_poscfgimpl->m_szDebugDisplayLength;
  l_items[OS_CFGTAG_FORCESOCKETMONITORTIMEOUT] = a_poscfgimpl->m_szForceSocketMonitorTimeout;
  l_items[OS_CFGTAG_FORCEUSBMONITORTIMEOUT] = a_poscfgimpl->m_szForceUsbMonitorTimeout;
  l_items[OS_CFGTAG_UITIMEOUT] = a_poscfgimpl->m_szUiTimeout;
  for (int l_i = 0; l_i < OS_VERSION_FIELDS; ++l_i) l_items[OS_CFGTAG_VERSIONMAJOR + l_i] = a_poscfgimpl->m_aszVersion[l_i];
}

// The directory items point at the layout's members.
void PointDirectoryItems(COsCfgImpl* a_poscfgimpl) {
  COsCfgImpl& l_c = *a_poscfgimpl;
  auto& l_items = l_c.m_aaszItem[OS_CFGSECTION_MAIN];
  l_items[OS_CFGTAG_HOMEDIRECTORY] = l_c.m_szHomeDirectory;
  l_items[OS_CFGTAG_HOMENAME] = l_c.m_szProgramFileName;
  l_items[OS_CFGTAG_ROOTCOMMONDIRECTORY] = l_c.m_szRootCommonDirectory;
  l_items[OS_CFGTAG_ROOTCOMMONDIRECTORYSHARED] = l_c.m_szSharedRootCommonDirectory;
  l_items[OS_CFGTAG_COMMONDIRECTORY] = l_c.m_szCommonDirectory;
  l_items[OS_CFGTAG_DESKTOPDIRECTORY] = l_c.m_szDesktopDirectory;
  l_items[OS_CFGTAG_DESKTOPDIRECTORYSHARED] = l_c.m_szSharedDesktopDirectory;
  l_items[OS_CFGTAG_USERDIRECTORY] = l_c.m_szUserDirectory;
  l_items[OS_CFGTAG_ROOTPATH] = l_c.m_szRootWriteableDirectory;
  l_items[OS_CFGTAG_ROOTPATHSHARED] = l_c.m_szSharedRootWriteableDirectory;
  l_items[OS_CFGTAG_LOGDIRECTORY] = l_c.m_szLogDirectory;
  l_items[OS_CFGTAG_USERROOTDIRECTORY] = l_c.m_szUserRootDirectory;
  l_items[OS_CFGTAG_USERROOTDIRECTORYSHARED] = l_c.m_szSharedUserRootDirectory;
  l_items[OS_CFGTAG_DEVICEDIRECTORYSHARED] = l_c.m_szSharedDeviceDirectory;
  l_items[OS_CFGTAG_MODELDIRECTORY] = l_c.m_szModelDirectory;
  l_items[OS_CFGTAG_MODELDIRECTORYREAL] = l_c.m_szModelDirectoryReal;
  l_items[OS_CFGTAG_MULTIMEDIADIRECTORY] = l_c.m_szMultimediaDirectory;
  l_items[OS_CFGTAG_LOCALLOWDIRECTORY] = l_c.m_szLocalLowDirectory;
  l_items[OS_CFGTAG_DRIVERNAME] = l_c.m_szLibraryName;
  l_items[OS_CFGTAG_DRIVERPATH] = l_c.m_szLibraryPath;
  l_items[OS_CFGTAG_SYSTEMDIRECTORY] = l_c.m_szSystemDirectory;
  l_items[OS_CFGTAG_TMPDIRECTORY] = l_c.m_szTmpDirectory;
  l_items[OS_CFGTAG_CONSTINI] = l_c.m_szConfigFilenameConstIni;
  l_items[OS_CFGTAG_CONSTINISHARED] = l_c.m_szSharedConfigFilenameConstIni;
  l_items[OS_CFGTAG_QRXLOG] = l_c.m_szLogFilename;
  l_items[OS_CFGTAG_SETUP001] = l_c.m_szGuiFilename;
  l_items[OS_CFGTAG_RAMSCAN] = l_c.m_szSimulatorFilename;
  l_items[OS_CFGTAG_APPLICATION] = l_c.m_szApplication;
  l_items[OS_CFGTAG_OSNAME] = OsCfgSysNames().m_szName;
  // The driver directory keeps a value from the configuration file.
  if (l_items[OS_CFGTAG_DRIVERDIRECTORY] == nullptr || l_items[OS_CFGTAG_DRIVERDIRECTORY][0] == 0)
    l_items[OS_CFGTAG_DRIVERDIRECTORY] = l_c.m_szDriverDirectory;
}

void SetBrandItems(COsCfgImpl* a_poscfgimpl) {
  COsCfgImpl& l_c = *a_poscfgimpl;
  const char* const l_aszMember[] = {l_c.m_szCompanyName,   l_c.m_szCompanyNameShort, l_c.m_szCopyright,
                                     l_c.m_szProductFamily, l_c.m_szProductName,      l_c.m_szUrlCompany,
                                     l_c.m_szUrlSupport,    l_c.m_szUrlSupportModel,  l_c.m_szMacMfgIdentity};
  for (int l_i = 0; l_i < 9; ++l_i)
    if (l_aszMember[l_i][0] != 0) l_c.m_aaszItem[2][OS_CFGTAG_COMPANYNAME + l_i] = l_aszMember[l_i];
  if (l_c.m_szCompanyName[0] != 0) l_c.m_aaszItem[OS_CFGSECTION_MAIN][OS_CFGTAG_MANUFACTURER] = l_c.m_szCompanyName;
}

// Programs of the suite that the library treats specially, by file name.
void IdentifyApplication(COsCfgImpl* a_poscfgimpl) {
  COsCfgImpl& l_c = *a_poscfgimpl;
  auto& l_items = l_c.m_aaszItem[OS_CFGSECTION_MAIN];
  if (l_c.m_szApplication[0] == 0) SStrCpy(l_c.m_szApplication, OS_PATH_SIZE, l_c.m_szLibraryPath);
  OsFilePathNormalize(l_c.m_szApplication, '\\');
  char l_szLower[OS_PATH_SIZE];
  SStrCpy(l_szLower, sizeof(l_szLower), l_c.m_szApplication);
  for (char* l_p = l_szLower; *l_p != 0; ++l_p)
    if (*l_p >= 'A' && *l_p <= 'Z') *l_p = static_cast<char>(*l_p - 'A' + 'a');
  if (std::strstr(l_szLower, "driverpavexe") != nullptr)
    l_items[168] = "1";
  else if (std::strstr(l_szLower, "pavexe") != nullptr)
    l_items[167] = "1";
  const char* const l_szForce = l_items[OS_CFGTAG_FORCEPROGRAMNAME];
  if (l_szForce != nullptr && l_szForce[0] != 0) {
    OS_LOGI("Real program is...<%s>", l_c.m_szApplication);
    SStrCpy(l_c.m_szApplication, OS_PATH_SIZE, l_szForce);
  }
  OS_LOGI("Program is...<%s>", l_c.m_szApplication);
  l_items[OS_CFGTAG_APPLICATION] = l_c.m_szApplication;

  const char* const l_pszSeparator = std::strrchr(l_c.m_szApplication, '\\');
  const char* const l_szName = l_pszSeparator != nullptr ? l_pszSeparator + 1 : l_c.m_szApplication;
  static const struct {
    const char* m_szName;
    int m_iTag;
  } s_aapplication[] = {{"mirelsys.exe", 153}, {"imaging.exe", 154},   {"orvikimg.exe", 154}, {"qrxtst.exe", 155},
                        {"trialscan.exe", 156}, {"mdrn.exe", 158},     {"psp.exe", 159},      {"paint shop pro", 159},
                        {"pkq.exe", 160},      {"homedeck.exe", 161}, {"photoshop.exe", 162}, {"zmte.exe", 165}};
  for (const auto& l_application : s_aapplication) {
    if (_stricmp(l_szName, l_application.m_szName) != 0) continue;
    l_items[l_application.m_iTag] = "1";
    if (l_application.m_iTag == 154) {
      SStrCpy(l_c.m_szUnitsBehavior, sizeof(l_c.m_szUnitsBehavior), "1");
      l_items[OS_CFGTAG_FORCEUNITSBEHAVIOR] = l_c.m_szUnitsBehavior;
    }
    break;
  }
  if (GetModuleHandleW(L"firmwarewia.dll") != nullptr || GetModuleHandleW(L"devicewia.dll") != nullptr) l_items[157] = "1";
}

void Initialise(COsCfgImpl* a_poscfgimpl, const OsCfgStartup& a_oscfgstartup) {
  OsCfgSysDetect();
  ReadBrand(a_poscfgimpl);
  if (OsCfgSetDirectories(a_poscfgimpl, a_oscfgstartup) != OS_STS_SUCCESS) {
    OS_LOGE("SetDirectories failed...");
    return;
  }
  OS_LOGI("Setting configuration defaults...");
  SetDefaults(a_poscfgimpl);
  PointDirectoryItems(a_poscfgimpl);
  OS_LOGI("Done setting configuration defaults...");

  COsLog* const l_poslog = OsLogInstance();
  if (l_poslog != nullptr) {
    const std::uint32_t l_u32Level =
        OsLogGetDebug(l_poslog) | static_cast<std::uint32_t>(std::strtoul(a_poscfgimpl->m_szLogDebug, nullptr, 10));
    OsLogReconfigure(l_poslog, a_poscfgimpl->m_szLogFilename, l_u32Level, a_poscfgimpl->m_szLogFilter, nullptr);
  }
  SetBrandItems(a_poscfgimpl);
  SStrCat(a_poscfgimpl->m_szFwDirectory, OS_PATH_SIZE, "\\");
  SStrCat(a_poscfgimpl->m_szPondoDirectory, OS_PATH_SIZE, "\\");
  SStrCat(a_poscfgimpl->m_szUiDirectory, OS_PATH_SIZE, "\\");
  IdentifyApplication(a_poscfgimpl);
  if (a_oscfgstartup.m_bOwner) OsCfgRotateLogDirectories(a_poscfgimpl);
}

bool DebuggerAttached() { return IsDebuggerPresent() != FALSE; }

}  // namespace

COsCfg* OsCfgCreate(const OsCfgStartup& a_oscfgstartup) {
  COsCfg* const l_poscfg = OsMemNew(COsCfg, "COsCfg");
  if (l_poscfg == nullptr) return nullptr;
  // The block is large (the file data): zero-filled pages of its own.
  void* const l_pv = VirtualAlloc(nullptr, sizeof(COsCfgImpl), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (l_pv == nullptr) {
    OS_LOGA("OsMemNew failed...");
    return l_poscfg;
  }
  COsCfgImpl* const l_poscfgimpl = static_cast<COsCfgImpl*>(l_pv);
  OS_LOGI("mem>>> addr:%p  size:%7d  new %s", l_pv, static_cast<int>(sizeof(COsCfgImpl)), "COsCfgImpl");
  l_poscfgimpl->m_eoscfgentity = a_oscfgstartup.m_eoscfgentity;
  SStrCpy(l_poscfgimpl->m_szFudge, sizeof(l_poscfgimpl->m_szFudge),
          a_oscfgstartup.m_szUniqueName != nullptr ? a_oscfgstartup.m_szUniqueName : "");
  l_poscfgimpl->m_eosstsLogDirectory = OS_STS_NOTCREATED;
  l_poscfgimpl->m_bForceSetAccess = a_oscfgstartup.m_bForceSetAccess;
  if (a_oscfgstartup.m_szApplication != nullptr)
    SStrCpy(l_poscfgimpl->m_szApplication, OS_PATH_SIZE, a_oscfgstartup.m_szApplication);
  if (a_oscfgstartup.m_paszVersion != nullptr)
    std::memcpy(l_poscfgimpl->m_aszVersion, a_oscfgstartup.m_paszVersion, sizeof(l_poscfgimpl->m_aszVersion));
  ReadLocalTables(l_poscfgimpl, a_oscfgstartup.m_szExtra);
  const char* const l_szLong = DebuggerAttached() ? "99999" : nullptr;
  SStrCpy(l_poscfgimpl->m_szLogDebug, OS_CFG_LOGMEMBER_SIZE, "0");
  SStrCpy(l_poscfgimpl->m_szDebugDisplayLength, OS_CFG_LOGMEMBER_SIZE, "512");
  SStrCpy(l_poscfgimpl->m_szForceSocketMonitorTimeout, OS_CFG_LOGMEMBER_SIZE, l_szLong != nullptr ? l_szLong : "10");
  SStrCpy(l_poscfgimpl->m_szForceUsbMonitorTimeout, OS_CFG_LOGMEMBER_SIZE, l_szLong != nullptr ? l_szLong : "10");
  SStrCpy(l_poscfgimpl->m_szUiTimeout, OS_CFG_LOGMEMBER_SIZE, l_szLong != nullptr ? l_szLong : "0");
  l_poscfg->m_poscfgimpl = l_poscfgimpl;
  Initialise(l_poscfgimpl, a_oscfgstartup);
  SetLastError(0);
  return l_poscfg;
}

void OsCfgDestroy(COsCfg* a_poscfg) {
  if (a_poscfg == nullptr) return;
  COsCfgImpl* const l_poscfgimpl = a_poscfg->m_poscfgimpl;
  a_poscfg->m_poscfgimpl = nullptr;
  if (l_poscfgimpl != nullptr) {
    if (l_poscfgimpl->m_posfileLogLock != nullptr) {
      l_poscfgimpl->m_posfileLogLock->Close();  // a temporary file: closing removes it
      OsMemDelete(l_poscfgimpl->m_posfileLogLock);
    }
    OS_LOGI("mem>>> addr:%p delete-object", static_cast<void*>(l_poscfgimpl));
    VirtualFree(l_poscfgimpl, 0, MEM_RELEASE);
  }
  OsMemDelete(a_poscfg);
}
