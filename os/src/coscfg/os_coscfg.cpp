// The configuration object: construction, defaults, brand, application
// identification, destruction.
#include <cstdlib>
#include <cstring>

#include "os_coscfg_impl.h"
#include "os_coscfg_profile.h"
#include "os_coscfg_sysinfo.h"
#include "os_cosfile.h"
#include "os_coslocale.h"
#include "os_coslog.h"
#include "os_cosmem.h"
#include "os_cosresource.h"
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

void SetBrandMember(char* a_szMember, const char* a_szBrand, const char* a_szOpening, const char* a_szClosing) {
  char l_sz[OS_PATH_SIZE];
  if (OsXmlGetTagValue(a_szBrand, a_szOpening, a_szClosing, l_sz, sizeof(l_sz)) == OS_STS_SUCCESS)
    SStrCpy(a_szMember, OS_PATH_SIZE, l_sz);
}

void ReadBrand(COsCfgImpl* a_poscfgimpl) {
  char l_szCompany[OS_PATH_SIZE];
  const EOSSTS l_eosstsCompany = OsCfgGetEnv("QRX_COMPANYNAMESHORT", nullptr, sizeof(l_szCompany), l_szCompany, true);
  if (l_eosstsCompany == OS_STS_TOOSMALL) {
    // A name too long to hold is refused, never replaced by the default.
    OsCfgRefuseLayout("company name too long...", "QRX_COMPANYNAMESHORT");
    a_poscfgimpl->m_bCompanyRefused = true;
    return;
  }
  if (l_eosstsCompany == OS_STS_SUCCESS && l_szCompany[0] != 0) {
    if (!OsCfgCompanyNameIsSafe(l_szCompany)) {
      // The name is joined under the common application-data folder by an
      // elevated process: one that leaves that folder is refused.
      OsCfgRefuseLayout("company name refused...", l_szCompany);
      a_poscfgimpl->m_bCompanyRefused = true;
      return;
    }
    SStrCpy(a_poscfgimpl->m_szRootDirectory, OS_PATH_SIZE, l_szCompany);
    SStrCpy(a_poscfgimpl->m_szCompanyName, OS_PATH_SIZE, l_szCompany);
    SStrCpy(a_poscfgimpl->m_szCompanyNameShort, OS_PATH_SIZE, l_szCompany);
    return;
  }
  SStrCpy(a_poscfgimpl->m_szRootDirectory, OS_PATH_SIZE, s_szDefaultRoot);
  COsResource l_osresource;
  if (l_osresource.Load(OS_RESOURCE_LOCAL, "BRAND", OS_RESOURCE_TYPE_RCDATA) != OS_STS_SUCCESS) return;
  const char* const l_pc = static_cast<const char*>(l_osresource.DataGet());
  std::size_t l_sizet = l_osresource.SizeGet();
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
  for (int l_i = 0; l_i < OS_VERSION_FIELDS; ++l_i)
    l_items[OS_CFGTAG_VERSIONMAJOR + l_i] = a_poscfgimpl->m_aszVersion[l_i];
}

}  // namespace

void OsCfgPointDirectoryItems(COsCfgImpl* a_poscfgimpl) {
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
  l_items[OS_CFGTAG_OSNAME] = OsCfgSysNames().m_szName;
  l_items[OS_CFGTAG_APPLICATION] = l_c.m_szApplication;
  // The driver directory keeps a value from the configuration file.
  if (l_items[OS_CFGTAG_DRIVERDIRECTORY] == nullptr || l_items[OS_CFGTAG_DRIVERDIRECTORY][0] == 0)
    l_items[OS_CFGTAG_DRIVERDIRECTORY] = l_c.m_szDriverDirectory;
}

namespace {

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
  // The program's file name, lower-cased.
  const char* const l_pszFile = std::strrchr(l_c.m_szApplication, '\\');
  char l_szLower[OS_PATH_SIZE];
  SStrCpy(l_szLower, sizeof(l_szLower), l_pszFile != nullptr ? l_pszFile + 1 : l_c.m_szApplication);
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
  } s_aapplication[] = {{"mirelsys.exe", 153},  {"imaging.exe", 154},  {"orvikimg.exe", 154},  {"qrxtst.exe", 155},
                        {"trialscan.exe", 156}, {"mdrn.exe", 158},     {"psp.exe", 159},       {"paint shop pro", 159},
                        {"pkq.exe", 160},       {"homedeck.exe", 161}, {"photoshop.exe", 162}, {"zmte.exe", 165}};
  for (const auto& l_application : s_aapplication) {
    if (_stricmp(l_szName, l_application.m_szName) != 0) continue;
    l_items[l_application.m_iTag] = "1";
    if (l_application.m_iTag == 154) {
      SStrCpy(l_c.m_szUnitsBehavior, sizeof(l_c.m_szUnitsBehavior), "1");
      l_items[OS_CFGTAG_FORCEUNITSBEHAVIOR] = l_c.m_szUnitsBehavior;
    }
    break;
  }
  if (GetModuleHandleW(L"firmwarewia.dll") != nullptr || GetModuleHandleW(L"devicewia.dll") != nullptr)
    l_items[157] = "1";
}

// Whether an item's text came from the configuration file.
bool IsFromFile(const COsCfgImpl* a_poscfgimpl, const char* a_szItem) {
  return a_szItem != nullptr && a_szItem >= a_poscfgimpl->m_szFileData &&
         a_szItem < a_poscfgimpl->m_szFileData + OS_CFG_FILEDATA_SIZE && a_szItem[0] != 0;
}

// A file of the user's (or, for a utility, the common) directory unless the
// configuration file names one.
void SetFileItem(COsCfgImpl* a_poscfgimpl, int a_iTag, char* a_szMember, const char* a_szName) {
  COsCfgImpl& l_c = *a_poscfgimpl;
  const char* const l_szItem = l_c.m_aaszItem[OS_CFGSECTION_MAIN][a_iTag];
  if (IsFromFile(a_poscfgimpl, l_szItem)) {
    SStrCpy(a_szMember, OS_PATH_SIZE, l_szItem);
  } else {
    const char* l_szDirectory = l_c.m_szUserDirectory;
    switch (l_c.m_eoscfgentity) {
      case OS_CFG_ENTITY_UTILITY: l_szDirectory = l_c.m_szCommonDirectory; break;
      case OS_CFG_ENTITY_APPLICATION:
      case OS_CFG_ENTITY_DRIVER:
      case OS_CFG_ENTITY_APPUTILITY:
      case OS_CFG_ENTITY_DLL: break;
      default: OS_LOGA("Unrecognized entity...%d", static_cast<int>(l_c.m_eoscfgentity)); break;
    }
    // A name that does not fit stays empty: no file is read or written.
    if (!OsFilePathJoin(a_szMember, OS_PATH_SIZE, l_szDirectory, a_szName)) a_szMember[0] = 0;
  }
  l_c.m_aaszItem[OS_CFGSECTION_MAIN][a_iTag] = a_szMember;
}

void Initialise(COsCfgImpl* a_poscfgimpl, const OsCfgStartup& a_oscfgstartup) {
  OsCfgSysDetect();
  COsCfgImpl& l_c = *a_poscfgimpl;
  ReadBrand(a_poscfgimpl);
  if (OsCfgSetDirectories(a_poscfgimpl, a_oscfgstartup, nullptr) != OS_STS_SUCCESS) {
    OS_LOGE("SetDirectories failed...");
    return;
  }
  OS_LOGI("Setting configuration defaults...");
  SetDefaults(a_poscfgimpl);
  OsCfgPointDirectoryItems(a_poscfgimpl);

  // The shared configuration file; a changed major or minor version means
  // the file set the version.
  auto& l_items = l_c.m_aaszItem[OS_CFGSECTION_MAIN];
  const long l_lMajor = std::strtol(l_items[OS_CFGTAG_VERSIONMAJOR], nullptr, 10);
  const long l_lMinor = std::strtol(l_items[OS_CFGTAG_VERSIONMAJOR + 1], nullptr, 10);
  const EOSSTS l_eossts = OsCfgLoadSharedFile(a_poscfgimpl);
  if (l_eossts != OS_STS_SUCCESS && l_eossts != OS_STS_NOTFOUND) OS_LOGA("LoadFile failed...");
  OS_LOGI("Done setting configuration defaults...");
  const char* const l_szMajor = l_items[OS_CFGTAG_VERSIONMAJOR] != nullptr ? l_items[OS_CFGTAG_VERSIONMAJOR] : "";
  const char* const l_szMinor =
      l_items[OS_CFGTAG_VERSIONMAJOR + 1] != nullptr ? l_items[OS_CFGTAG_VERSIONMAJOR + 1] : "";
  if (std::strtol(l_szMajor, nullptr, 10) != l_lMajor || std::strtol(l_szMinor, nullptr, 10) != l_lMinor)
    l_c.m_bVersionFromFile = true;
  // Log settings from the file live in their members, where start-up and
  // the log read and change them.
  const struct {
    int m_iTag;
    char* m_szMember;
    std::size_t m_sizetMember;
  } s_amember[] = {
      {OS_CFGTAG_DEBUG, l_c.m_szLogDebug, sizeof(l_c.m_szLogDebug)},
      {OS_CFGTAG_DEBUGFILTER, l_c.m_szLogFilter, sizeof(l_c.m_szLogFilter)},
      {OS_CFGTAG_DEBUGDISPLAYLENGTH, l_c.m_szDebugDisplayLength, sizeof(l_c.m_szDebugDisplayLength)},
      {OS_CFGTAG_FORCESOCKETMONITORTIMEOUT, l_c.m_szForceSocketMonitorTimeout,
       sizeof(l_c.m_szForceSocketMonitorTimeout)},
      {OS_CFGTAG_FORCEUSBMONITORTIMEOUT, l_c.m_szForceUsbMonitorTimeout, sizeof(l_c.m_szForceUsbMonitorTimeout)},
      {OS_CFGTAG_UITIMEOUT, l_c.m_szUiTimeout, sizeof(l_c.m_szUiTimeout)}};
  for (const auto& l_member : s_amember) {
    if (IsFromFile(a_poscfgimpl, l_items[l_member.m_iTag]))
      SStrNcpy(l_member.m_szMember, l_member.m_sizetMember, l_items[l_member.m_iTag], l_member.m_sizetMember - 1);
    l_items[l_member.m_iTag] = l_member.m_szMember;
  }
  const char* const l_szDesktop = l_items[OS_CFGTAG_DESKTOPDIRECTORY];
  if (IsFromFile(a_poscfgimpl, l_szDesktop)) {
    SStrCpy(l_c.m_szDesktopDirectory, OS_PATH_SIZE, l_szDesktop);
    SStrCpy(l_c.m_szSharedDesktopDirectory, OS_PATH_SIZE, l_szDesktop);
  }
  // The file cannot move the directories.
  OsCfgPointDirectoryItems(a_poscfgimpl);

  COsLog* const l_poslog = OsLogInstance();
  if (l_poslog != nullptr) {
    const char* const l_szFilter = l_items[OS_CFGTAG_DEBUGFILTER] != nullptr ? l_items[OS_CFGTAG_DEBUGFILTER] : "";
    const std::uint32_t l_u32Level =
        OsLogGetDebug(l_poslog) | static_cast<std::uint32_t>(std::strtoul(l_c.m_szLogDebug, nullptr, 10));
    OsLogReconfigure(l_poslog, l_c.m_szLogFilename, l_u32Level, l_szFilter, nullptr);
  }
  SetBrandItems(a_poscfgimpl);
  l_items[OS_CFGTAG_QRXLOG] = l_c.m_szLogFilename;
  SStrCat(l_c.m_szFwDirectory, OS_PATH_SIZE, "\\");
  SStrCat(l_c.m_szPondoDirectory, OS_PATH_SIZE, "\\");
  SStrCat(l_c.m_szUiDirectory, OS_PATH_SIZE, "\\");
  if (l_c.m_eoscfgentity == OS_CFG_ENTITY_DRIVER &&
      (l_items[OS_CFGTAG_PONDOLOGPATH] == nullptr || l_items[OS_CFGTAG_PONDOLOGPATH][0] == 0))
    l_items[OS_CFGTAG_PONDOLOGPATH] = l_c.m_szPondoDirectory;
  SetFileItem(a_poscfgimpl, OS_CFGTAG_SETUP001, l_c.m_szGuiFilename, "setup001.ini");
  SetFileItem(a_poscfgimpl, OS_CFGTAG_RAMSCAN, l_c.m_szSimulatorFilename, "ramscan.txt");
  if (!OsFileExists(l_c.m_szSimulatorFilename)) {
    if (!OsFilePathJoin(l_c.m_szSimulatorFilename, OS_PATH_SIZE, l_c.m_szHomeDirectory, "ramscan.txt"))
      l_c.m_szSimulatorFilename[0] = 0;
  }
  l_items[OS_CFGTAG_CONSTINI] = l_c.m_szConfigFilename;
  l_items[OS_CFGTAG_CONSTINISHARED] = l_c.m_szSharedConfigFilename;
  const char* const l_szSane = l_items[OS_CFGTAG_SANETWAINVERSION];
  if (std::strtol(l_szSane != nullptr ? l_szSane : "", nullptr, 10) == 0) {
    if (OsCfgGetEnv("SANETWAIN_VERSION", "00000000", sizeof(l_c.m_szSaneTwainVersion), l_c.m_szSaneTwainVersion,
                    false) != OS_STS_SUCCESS)
      SStrCpy(l_c.m_szSaneTwainVersion, sizeof(l_c.m_szSaneTwainVersion), "00000000");
    l_items[OS_CFGTAG_SANETWAINVERSION] = l_c.m_szSaneTwainVersion;
  }
  IdentifyApplication(a_poscfgimpl);
  if (a_oscfgstartup.m_bOwner) OsCfgRotateLogDirectories(a_poscfgimpl);
}

// A zero-filled implementation of this identity, its log directory not yet
// created; null (logged) without memory. The block is large (the file data):
// pages of its own, freed with VirtualFree.
COsCfgImpl* NewImpl(const char* a_szUniqueName, EOSCFGENTITY a_eoscfgentity) {
  void* const l_pv = VirtualAlloc(nullptr, sizeof(COsCfgImpl), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  OS_RETURN_IF_NULL(l_pv, OS_LOG_ASSERT, "OsMemNew failed...", nullptr);
  COsCfgImpl* const l_poscfgimpl = static_cast<COsCfgImpl*>(l_pv);
  l_poscfgimpl->m_eoscfgentity = a_eoscfgentity;
  SStrCpy(l_poscfgimpl->m_szFudge, sizeof(l_poscfgimpl->m_szFudge), a_szUniqueName != nullptr ? a_szUniqueName : "");
  l_poscfgimpl->m_eosstsLogDirectory = OS_STS_NOTCREATED;
  return l_poscfgimpl;
}

bool DebuggerAttached() { return IsDebuggerPresent() != FALSE; }

}  // namespace

COsCfg* OsCfgCreate(const OsCfgStartup& a_oscfgstartup) {
  COsCfg* const l_poscfg = OsMemNew(COsCfg, "COsCfg");
  if (l_poscfg == nullptr) return nullptr;
  COsCfgImpl* const l_poscfgimpl = NewImpl(a_oscfgstartup.m_szUniqueName, a_oscfgstartup.m_eoscfgentity);
  if (l_poscfgimpl == nullptr) return l_poscfg;
  OS_LOGI("mem>>> addr:%p  size:%7d  new %s", static_cast<void*>(l_poscfgimpl), static_cast<int>(sizeof(COsCfgImpl)),
          "COsCfgImpl");
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
    OsCfgProfileFreeAll();  // changes that were not flushed are lost
    // While the log directory is still held: the library may log its close.
    OsCfgInterfaceClose(l_poscfgimpl);
    if (l_poscfgimpl->m_posfileLogLock != nullptr) {
      l_poscfgimpl->m_posfileLogLock->Close();  // a temporary file: closing removes it
      OsMemDelete(l_poscfgimpl->m_posfileLogLock);
    }
    OS_LOGI("mem>>> addr:%p delete-object", static_cast<void*>(l_poscfgimpl));
    VirtualFree(l_poscfgimpl, 0, MEM_RELEASE);
  }
  OsMemDelete(a_poscfg);
}

EOSSTS OsCfgQueryDirectories(const char* a_szUniqueName, EOSCFGENTITY a_eoscfgentity, OsCfgQuery* a_pquery) {
  COsCfgImpl* const l_poscfgimpl = NewImpl(a_szUniqueName, a_eoscfgentity);
  if (l_poscfgimpl == nullptr) return OS_STS_FAIL;
  ReadBrand(l_poscfgimpl);
  const OsCfgStartup l_oscfgstartup = {};
  const EOSSTS l_eossts = OsCfgSetDirectories(l_poscfgimpl, l_oscfgstartup, a_pquery);
  VirtualFree(l_poscfgimpl, 0, MEM_RELEASE);
  return l_eossts;
}

EOSSTS COsCfg::QueryDirectories(char* a_szRoot, std::size_t a_sizetRoot, char* a_szModel, std::size_t a_sizetModel,
                                char* a_szCompany, std::size_t a_sizetCompany, char* a_szBrandRoot,
                                std::size_t a_sizetBrandRoot) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", OS_STS_FAIL);
  OsCfgQuery l_query = {a_szRoot,    a_sizetRoot,    a_szModel,     a_sizetModel,
                        a_szCompany, a_sizetCompany, a_szBrandRoot, a_sizetBrandRoot};
  return OsCfgQueryDirectories(m_poscfgimpl->m_szFudge, m_poscfgimpl->m_eoscfgentity, &l_query);
}

const void* COsCfg::VersionText(bool a_bWide) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", nullptr);
  COsCfgImpl& l_c = *m_poscfgimpl;
  auto l_field = [this](int a_iField) {
    return static_cast<int>(std::strtol(GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_VERSIONMAJOR + a_iField), nullptr, 10));
  };
  bool l_bDone = false;
  if (!l_c.m_bVersionFromFile) {
    COsResource l_osresource;
    if (l_osresource.Load(OS_RESOURCE_LOCAL, "VERSION", OS_RESOURCE_TYPE_RCDATA) == OS_STS_SUCCESS) {
      // The resource's text up to its first 32 bytes (or its terminator).
      const std::uint32_t l_u32Size = l_osresource.SizeGet() < 32 ? l_osresource.SizeGet() : 32;
      std::memcpy(l_c.m_szVersionText, l_osresource.DataGet(), l_u32Size);
      l_c.m_szVersionText[l_u32Size] = 0;
      l_bDone = true;
    }
  }
  if (!l_bDone)
    SStrPrintf(l_c.m_szVersionText, sizeof(l_c.m_szVersionText), "%02d%02d%02d%02d", l_field(0), l_field(1), l_field(2),
               l_field(3));
  if (!a_bWide) return l_c.m_szVersionText;
  // The version text is plain ASCII: widened unit by unit, cut to the buffer.
  constexpr std::size_t l_sizetWide = sizeof(l_c.m_wszVersionText) / sizeof(wchar_t);
  std::size_t l_i = 0;
  for (; l_i + 1 < l_sizetWide && l_c.m_szVersionText[l_i] != 0; ++l_i)
    l_c.m_wszVersionText[l_i] = static_cast<unsigned char>(l_c.m_szVersionText[l_i]);
  l_c.m_wszVersionText[l_i] = 0;
  return l_c.m_wszVersionText;
}

bool COsCfg::DsmPath(char* a_szPath, std::size_t a_sizetPath, bool a_bNewManager) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", false);
  OS_RETURN_IF(a_szPath == nullptr || a_sizetPath == 0, OS_LOG_ASSERT, "bad argument...", false);
  char l_sz[OS_PATH_SIZE] = "";
  OsCfgGetEnv("QRX_ALTERNATEDSM", nullptr, sizeof(l_sz), l_sz, true);
  if (l_sz[0] != 0 && OsFileExists(l_sz)) {
    SStrCpy(a_szPath, a_sizetPath, l_sz);
    return true;
  }
  wchar_t l_wsz[MAX_PATH];
  if (a_bNewManager && GetSystemDirectoryW(l_wsz, MAX_PATH) != 0 &&
      CopyUtf8FromUnicode(l_sz, sizeof(l_sz), l_wsz, -1) > 0) {
    if (OsFilePathAppend(l_sz, sizeof(l_sz), "TWAINDSM.DLL") && OsFileExists(l_sz)) {
      SStrCpy(a_szPath, a_sizetPath, l_sz);
      return true;
    }
  }
  l_sz[0] = 0;
  if (GetWindowsDirectoryW(l_wsz, MAX_PATH) == 0 || CopyUtf8FromUnicode(l_sz, sizeof(l_sz), l_wsz, -1) <= 0 ||
      !OsFilePathAppend(l_sz, sizeof(l_sz), "TWAIN_32.DLL"))
    l_sz[0] = 0;
  SStrCpy(a_szPath, a_sizetPath, l_sz);
  SetLastError(0);
  return l_sz[0] != 0 && OsFileExists(l_sz);
}

const char* COsCfg::BrandText(int a_iWidth) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", "");
  COsCfgImpl& l_c = *m_poscfgimpl;
  if (a_iWidth <= 0) return l_c.m_szBrand;
  if (a_iWidth > 4) a_iWidth = 4;
  // Each line of the brand text with a_iWidth tabs in front.
  l_c.m_szBrandLines[0] = 0;
  std::size_t l_sizetUsed = 0;
  const char* l_psz = l_c.m_szBrand;
  while (*l_psz != 0) {
    const std::size_t l_sizetLine = std::strcspn(l_psz, "\r\n");
    if (l_sizetLine != 0) {
      const int l_iWritten =
          SStrPrintf(l_c.m_szBrandLines + l_sizetUsed, sizeof(l_c.m_szBrandLines) - l_sizetUsed, "%*.*s%.*s\n",
                     a_iWidth, a_iWidth, "\t\t\t\t", static_cast<int>(l_sizetLine), l_psz);
      if (l_iWritten <= 0) break;  // the rest does not fit
      l_sizetUsed += static_cast<std::size_t>(l_iWritten);
    }
    l_psz += l_sizetLine;
    while (*l_psz == '\r' || *l_psz == '\n') ++l_psz;
  }
  return l_c.m_szBrandLines;
}
