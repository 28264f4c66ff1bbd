// The configuration's implementation block: items, the directory layout,
// brand, log members and version.
#pragma once

#include <cstdint>

#include "os_coscfg.h"
#include "os_coscfg_services.h"

class COsFile;

constexpr int OS_CFG_SECTIONS = 5;
constexpr int OS_CFG_TAGS = 271;
constexpr int OS_CFG_LOCAL_BASE = 1000;
constexpr std::size_t OS_CFG_BRAND_SIZE = 2048;
constexpr std::size_t OS_CFG_FILEDATA_SIZE = 65536;
constexpr std::size_t OS_CFG_FUDGE_SIZE = 128;
constexpr std::size_t OS_CFG_LOGMEMBER_SIZE = 16;

// A (name, number) entry of the section, tag and local tables; ends with a null name.
struct OsCfgName {
  const char* m_szName;
  int m_iNumber;
};

struct OsCfgDefault {
  int m_iSection;
  int m_iTag;
  const char* m_szText;
};

extern const OsCfgName s_aoscfgsection[];
extern const OsCfgName s_aoscfgtag[];
extern const OsCfgDefault s_aoscfgdefault[];

// Section 1 tags of the directory layout and the items that start-up sets.
enum EOSCFGTAG : int {
  OS_CFGTAG_HOMEDIRECTORY = 1,
  OS_CFGTAG_HOMENAME = 2,
  OS_CFGTAG_ROOTCOMMONDIRECTORY = 3,
  OS_CFGTAG_ROOTCOMMONDIRECTORYSHARED = 4,
  OS_CFGTAG_COMMONDIRECTORY = 5,
  OS_CFGTAG_DESKTOPDIRECTORY = 6,
  OS_CFGTAG_DESKTOPDIRECTORYSHARED = 7,
  OS_CFGTAG_USERDIRECTORY = 8,
  OS_CFGTAG_DRIVERDIRECTORY = 9,
  OS_CFGTAG_ROOTPATHSHARED = 11,
  OS_CFGTAG_USERROOTDIRECTORYSHARED = 14,
  OS_CFGTAG_DEVICEDIRECTORYSHARED = 15,
  OS_CFGTAG_MODELDIRECTORY = 16,
  OS_CFGTAG_MODELDIRECTORYREAL = 17,
  OS_CFGTAG_MULTIMEDIADIRECTORY = 18,
  OS_CFGTAG_LOCALLOWDIRECTORY = 19,
  OS_CFGTAG_DRIVERNAME = 20,
  OS_CFGTAG_DRIVERPATH = 21,
  OS_CFGTAG_SYSTEMDIRECTORY = 22,
  OS_CFGTAG_OSNAME = 25,
  OS_CFGTAG_CONSTINI = 30,
  OS_CFGTAG_CONSTINISHARED = 31,
  OS_CFGTAG_QRXLOG = 32,
  OS_CFGTAG_SETUP001 = 33,
  OS_CFGTAG_RAMSCAN = 34,
  OS_CFGTAG_VERSIONMAJOR = 48,
  OS_CFGTAG_SANETWAINVERSION = 57,
  OS_CFGTAG_PONDOLOGPATH = 61,
  OS_CFGTAG_MANUFACTURER = 56,
  OS_CFGTAG_UITIMEOUT = 62,
  OS_CFGTAG_LOGBACKUP = 63,
  OS_CFGTAG_FORCEPROGRAMNAME = 128,
  OS_CFGTAG_FORCESOCKETMONITORTIMEOUT = 138,
  OS_CFGTAG_FORCETHREADAFFINITY = 140,
  OS_CFGTAG_FORCEUNITSBEHAVIOR = 142,
  OS_CFGTAG_FORCEUSBMONITORTIMEOUT = 144,
  OS_CFGTAG_APPLICATION = 152,
  OS_CFGTAG_COMPANYNAME = 169,
};

class COsCfgImpl {
 public:
  // The item store: row 0 and column 0 hold nothing; null means empty.
  // An item points at text that lives as long as the configuration.
  const char* m_aaszItem[OS_CFG_SECTIONS + 1][OS_CFG_TAGS + 1];

  EOSCFGENTITY m_eoscfgentity;
  bool m_bForceSetAccess;
  EOSSTS m_eosstsLogDirectory;  // 262 until the log directory was created
  bool m_bCompanyRefused;       // the company name would leave its folder

  // The directory layout.
  char m_szSystemDirectory[OS_PATH_SIZE];
  char m_szHomeDirectory[OS_PATH_SIZE];
  char m_szLibraryPath[OS_PATH_SIZE];
  const char* m_szLibraryName;
  char m_szSharedRootWriteableDirectory[OS_PATH_SIZE];
  char m_szSharedRootCommonDirectory[OS_PATH_SIZE];
  char m_szSharedUserRootDirectory[OS_PATH_SIZE];
  char m_szSharedCommonDirectory[OS_PATH_SIZE];
  char m_szSharedDeviceDirectory[OS_PATH_SIZE];
  char m_szSharedUserDirectory[OS_PATH_SIZE];
  char m_szRootWriteableDirectory[OS_PATH_SIZE];
  char m_szRootCommonDirectory[OS_PATH_SIZE];
  char m_szUserRootDirectory[OS_PATH_SIZE];
  char m_szCommonDirectory[OS_PATH_SIZE];
  char m_szUserDirectory[OS_PATH_SIZE];
  char m_szDriverDirectory[OS_PATH_SIZE];
  char m_szLogDirectory[OS_PATH_SIZE];
  char m_szFwDirectory[OS_PATH_SIZE];
  char m_szPondoDirectory[OS_PATH_SIZE];
  char m_szUiDirectory[OS_PATH_SIZE];
  char m_szTmpDirectory[OS_PATH_SIZE];
  char m_szSimulatorFilename[OS_PATH_SIZE];
  char m_szConfigFilenameConstIni[OS_PATH_SIZE];
  char m_szConfigFilename[OS_PATH_SIZE];
  char m_szSharedConfigFilenameConstIni[OS_PATH_SIZE];
  char m_szSharedConfigFilename[OS_PATH_SIZE];
  char m_szLogFilename[OS_PATH_SIZE];
  char m_szGuiFilename[OS_PATH_SIZE];
  char m_szDesktopDirectory[OS_PATH_SIZE];
  char m_szSharedDesktopDirectory[OS_PATH_SIZE];
  char m_szMultimediaDirectory[OS_PATH_SIZE];
  char m_szVirtualizedDirectory[OS_PATH_SIZE];
  char m_szLocalLowDirectory[OS_PATH_SIZE];
  char m_szApplication[OS_PATH_SIZE];
  char m_szFudge[OS_CFG_FUDGE_SIZE];  // the unique name
  char m_szRootDirectory[OS_PATH_SIZE];
  char m_szModelDirectory[OS_PATH_SIZE];
  char m_szModelDirectoryReal[OS_PATH_SIZE];
  char m_szProgramFileName[OS_PATH_SIZE];
  char m_szLogTimeStamp[OS_PATH_SIZE];
  char m_szTmp[OS_PATH_SIZE];

  // Brand.
  char m_szCompanyName[OS_PATH_SIZE];
  char m_szCompanyNameShort[OS_PATH_SIZE];
  char m_szCopyright[OS_PATH_SIZE];
  char m_szProductFamily[OS_PATH_SIZE];
  char m_szProductName[OS_PATH_SIZE];
  char m_szUrlCompany[OS_PATH_SIZE];
  char m_szUrlSupport[OS_PATH_SIZE];
  char m_szUrlSupportModel[OS_PATH_SIZE];
  char m_szMacMfgIdentity[OS_PATH_SIZE];
  char m_szBrand[OS_CFG_BRAND_SIZE];

  // Log members.
  char m_szLogDebug[OS_CFG_LOGMEMBER_SIZE];
  char m_szLogFilter[OS_LOGFILTER_SIZE];
  char m_szDebugDisplayLength[OS_CFG_LOGMEMBER_SIZE];
  char m_szForceSocketMonitorTimeout[OS_CFG_LOGMEMBER_SIZE];
  char m_szForceUsbMonitorTimeout[OS_CFG_LOGMEMBER_SIZE];
  char m_szUiTimeout[OS_CFG_LOGMEMBER_SIZE];
  char m_szUnitsBehavior[10];

  char m_aszVersion[OS_VERSION_FIELDS][OS_VERSION_FIELD_SIZE];
  bool m_bVersionFromFile;
  char m_szVersionText[33];
  wchar_t m_wszVersionText[16];
  char m_szSaneTwainVersion[33];
  char m_szBrandLines[2 * OS_CFG_BRAND_SIZE];

  // Local items.
  const OsCfgName* m_posLocalSections;
  const OsCfgName* m_posLocalTags;
  const char* const* m_paszLocalData;
  int m_iLocalSections;
  int m_iLocalTags;

  // The log directory's lock file: open while this process uses the directory.
  COsFile* m_posfileLogLock;

  // The interface library, its entry point and its kept reply (2048 bytes,
  // tracked); all null until InterfaceInfo succeeds.
  COsFile* m_posfileInterface;
  void* m_pfnInterfaceEntry;
  char* m_szInterfaceInfo;

  char m_szFileData[OS_CFG_FILEDATA_SIZE];
};

// What the configuration receives from start-up.
struct OsCfgStartup {
  const char* m_szUniqueName;
  EOSCFGENTITY m_eoscfgentity;
  const char* m_szExtra;
  const char (*m_paszVersion)[OS_VERSION_FIELD_SIZE];
  bool m_bForceSetAccess;
  const char* m_szApplication;
  const char* m_szRootPath;  // from inherited arguments, or empty
  bool m_bOwner;             // this process composed its own arguments
};

// The outputs of the directory layout's query mode; each buffer may be null.
struct OsCfgQuery {
  char* m_szRoot;
  std::size_t m_sizetRoot;
  char* m_szModel;
  std::size_t m_sizetModel;
  char* m_szCompany;
  std::size_t m_sizetCompany;
  char* m_szBrandRoot;
  std::size_t m_sizetBrandRoot;
};

// Says "interfaceclose" to a held interface library and releases it and its
// reply.
void OsCfgInterfaceClose(COsCfgImpl* a_poscfgimpl);

// Creates the process-wide configuration; null when it cannot be made.
COsCfg* OsCfgCreate(const OsCfgStartup& a_oscfgstartup);
void OsCfgDestroy(COsCfg* a_poscfg);

// Resolves and stores the directory layout (full mode, a_pquery null), or
// stops once the writeable root is known and answers the query. 0 or 1.
EOSSTS OsCfgSetDirectories(COsCfgImpl* a_poscfgimpl, const OsCfgStartup& a_oscfgstartup, OsCfgQuery* a_pquery);
// Query mode on a temporary implementation of the given identity.
EOSSTS OsCfgQueryDirectories(const char* a_szUniqueName, EOSCFGENTITY a_eoscfgentity, OsCfgQuery* a_pquery);
// Points the directory items of section 1 at the layout's members (the
// driver directory keeps a value from the configuration file).
void OsCfgPointDirectoryItems(COsCfgImpl* a_poscfgimpl);
// The three descriptors of directories, events and mutexes.
EOSSTS OsCfgBuildSecurity();
void OsCfgFreeSecurity();
void* OsCfgSecurityAttributes(int a_iIndex);
// Deletes old log directories not in use, keeping the newest ones.
void OsCfgRotateLogDirectories(COsCfgImpl* a_poscfgimpl);
// A company name that would leave the common application-data folder, or
// name a device instead of a folder.
bool OsCfgCompanyNameIsSafe(const char* a_szName);
// Says why the layout refuses to build the tree: in the log, and, while
// debugging is on, on standard error too (the log has no file yet then).
void OsCfgRefuseLayout(const char* a_szReason, const char* a_szValue);
