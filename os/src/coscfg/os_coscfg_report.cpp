// The configuration report: a text file with the environment, the machine's
// information, every item and every directory member, the first thing to
// read when a program misbehaves on a customer's machine.
#include <cstring>

#include "os_coscfg_impl.h"
#include "os_coscfg_sysinfo.h"
#include "os_cosfile.h"
#include "os_cosstring.h"
#include "os_costime.h"
#include "os_log.h"

namespace {

constexpr std::size_t OS_CFG_REPORTDIR_SIZE = 1025;  // QRX_OSCFGDIR: up to 1024 characters
constexpr std::size_t OS_CFG_REPORTNAME_SIZE = OS_CFG_REPORTDIR_SIZE + 64;
constexpr std::size_t OS_CFG_STAMP_SIZE = 32;
constexpr std::size_t OS_CFG_LABEL_SIZE = 64;
constexpr int OS_CFG_REPORT_LASTMAINTAG = 177;
constexpr int OS_CFG_REPORT_FIRSTSIZE = 221;
constexpr int OS_CFG_REPORT_FIRSTJPEG = 179;
constexpr int OS_CFG_REPORT_LASTJPEG = 220;
constexpr int OS_CFG_SECTION_SUPPORTEDSIZES = 4;
constexpr int OS_CFG_SECTION_QRX_ALL = 5;

// Values are written with Write, not through the formatting buffer: an
// item or an environment value may be longer than that buffer.
void Text(COsFile& a_osfile, const char* a_sz) {
  if (a_sz == nullptr || a_sz[0] == 0) return;
  std::uint32_t l_u32Written = 0;
  a_osfile.Write(a_sz, static_cast<std::uint32_t>(std::strlen(a_sz)), &l_u32Written);
}

// "%-48s <%s>\r\n" of a label and an item's text.
void ItemLine(COsFile& a_osfile, const char* a_szLabel, const char* a_szText) {
  a_osfile.Printf("%-48s <", a_szLabel);
  Text(a_osfile, a_szText);
  Text(a_osfile, ">\r\n");
}

// "%-36s= <%s>\r\n" of a member's name and text.
void MemberLine(COsFile& a_osfile, const char* a_szName, const char* a_szText) {
  a_osfile.Printf("%-36s= <", a_szName);
  Text(a_osfile, a_szText);
  Text(a_osfile, ">\r\n");
}

// The first name of a table with that number, or "0x%06x" of the number.
const char* Label(const OsCfgName* a_posname, int a_iNumber, char* a_szLabel, std::size_t a_sizetLabel) {
  for (const OsCfgName* l_p = a_posname; l_p != nullptr && l_p->m_szName != nullptr; ++l_p)
    if (l_p->m_iNumber == a_iNumber) return l_p->m_szName;
  SStrPrintf(a_szLabel, a_sizetLabel, "0x%06x", static_cast<unsigned>(a_iNumber));
  return a_szLabel;
}

const char* Item(const COsCfgImpl& a_c, int a_iSection, int a_iTag) { return a_c.m_aaszItem[a_iSection][a_iTag]; }

void WriteEnvironment(COsFile& a_osfile) {
  Text(a_osfile, "\r\n*** Environmentals ***************************************\r\n\r\n");
  const OsCfgEnvPair* const l_ppair = OsCfgGetEnvSnapshot();
  for (const OsCfgEnvPair* l_p = l_ppair; l_p != nullptr && l_p->m_szName != nullptr; ++l_p) {
    Text(a_osfile, l_p->m_szName);
    Text(a_osfile, "=");
    Text(a_osfile, l_p->m_szValue);
    Text(a_osfile, "\r\n");
  }
}

const char* OrEmpty(const char* a_sz) { return a_sz != nullptr ? a_sz : ""; }

void WriteInfo(COsFile& a_osfile) {
  Text(a_osfile, "\r\n*** CFG Info *********************************************\r\n\r\n");
  a_osfile.Printf("OS_CFGINFO_OS_BUILDSTRING.............%s\r\n",
                  OrEmpty(OsCfgSysGetText(OS_CFGINFO_OS_BUILDSTRING, 0)));
  a_osfile.Printf("OS_CFGINFO_OS_NAMESTRING..............%s\r\n",
                  OrEmpty(OsCfgSysGetText(OS_CFGINFO_OS_NAMESTRING, 0)));
  a_osfile.Printf("OS_CFGINFO_OS_VERSIONSTRING...........%s\r\n",
                  OrEmpty(OsCfgSysGetText(OS_CFGINFO_OS_VERSIONSTRING, 0)));
  a_osfile.Printf("OS_CFGINFO_OS_KERNELVERSIONSTRING.....%s\r\n",
                  OrEmpty(OsCfgSysGetText(OS_CFGINFO_OS_KERNELVERSIONSTRING, 0)));
  static const struct {
    const char* m_szFormat;
    EOSCFGINFO m_eoscfginfo;
  } s_amemory[] = {{"OS_CFGINFO_MEM_TOTALPHYSICAL..........%llu\r\n", OS_CFGINFO_MEM_TOTALPHYSICAL},
                   {"OS_CFGINFO_MEM_AVAILABLEPHYSICAL......%llu\r\n", OS_CFGINFO_MEM_AVAILABLEPHYSICAL},
                   {"OS_CFGINFO_MEM_TOTALVIRTUAL...........%llu\r\n", OS_CFGINFO_MEM_TOTALVIRTUAL},
                   {"OS_CFGINFO_MEM_AVAILABLEVIRTUAL.......%llu\r\n", OS_CFGINFO_MEM_AVAILABLEVIRTUAL},
                   {"OS_CFGINFO_MEM_TOTALPAGEFILE..........%llu\r\n", OS_CFGINFO_MEM_TOTALPAGEFILE},
                   {"OS_CFGINFO_MEM_AVAILABLEPAGEFILE......%llu\r\n", OS_CFGINFO_MEM_AVAILABLEPAGEFILE}};
  // The formats are constants of this table.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  for (const auto& l_memory : s_amemory)
    a_osfile.Printf(l_memory.m_szFormat, OsCfgSysGetNumber64(l_memory.m_eoscfginfo, 0));
#pragma GCC diagnostic pop
  a_osfile.Printf("OS_CFGINFO_MEM_LOAD...................%lu\r\n",
                  static_cast<unsigned long>(OsCfgSysGetNumber64(OS_CFGINFO_MEM_LOAD, 0)));
  a_osfile.Printf("OS_CFGINFO_CPU_CACHESIZE..............%d\r\n",
                  static_cast<int>(OsCfgSysGetNumber(OS_CFGINFO_CPU_CACHESIZE, 0)));
  a_osfile.Printf("OS_CFGINFO_CPU_FAMILY.................%d\r\n",
                  static_cast<int>(OsCfgSysGetNumber(OS_CFGINFO_CPU_FAMILY, 0)));
  static const struct {
    const char* m_szLabel;
    EOSCFGINFO m_eoscfginfo;
  } s_aflag[] = {{"OS_CFGINFO_CPU_IS_3DNOW...............", OS_CFGINFO_CPU_IS_3DNOW},
                 {"OS_CFGINFO_CPU_IS_FPU.................", OS_CFGINFO_CPU_IS_FPU},
                 {"OS_CFGINFO_CPU_IS_HYPERTHREADING......", OS_CFGINFO_CPU_IS_HYPERTHREADING},
                 {"OS_CFGINFO_CPU_IS_MMX.................", OS_CFGINFO_CPU_IS_MMX},
                 {"OS_CFGINFO_CPU_IS_POPCNT..............", OS_CFGINFO_CPU_IS_POPCNT},
                 {"OS_CFGINFO_CPU_IS_SSE.................", OS_CFGINFO_CPU_IS_SSE},
                 {"OS_CFGINFO_CPU_IS_SSE2................", OS_CFGINFO_CPU_IS_SSE2},
                 {"OS_CFGINFO_CPU_IS_SSE3................", OS_CFGINFO_CPU_IS_SSE3},
                 {"OS_CFGINFO_CPU_IS_SSE41...............", OS_CFGINFO_CPU_IS_SSE41},
                 {"OS_CFGINFO_CPU_IS_SSE42...............", OS_CFGINFO_CPU_IS_SSE42},
                 {"OS_CFGINFO_CPU_IS_SSE4A...............", OS_CFGINFO_CPU_IS_SSE4A}};
  for (const auto& l_flag : s_aflag)
    a_osfile.Printf("%s%d\r\n", l_flag.m_szLabel, OsCfgSysGetFlag(l_flag.m_eoscfginfo, 0) ? 1 : 0);
  a_osfile.Printf("OS_CFGINFO_CPU_LEVEL..................%d\r\n",
                  static_cast<int>(OsCfgSysGetNumber(OS_CFGINFO_CPU_LEVEL, 0)));
  a_osfile.Printf("OS_CFGINFO_CPU_MACHINEBITS............%d\r\n",
                  static_cast<int>(OsCfgSysGetNumber(OS_CFGINFO_CPU_MACHINEBITS, 0)));
  a_osfile.Printf("OS_CFGINFO_CPU_MHZ....................%d\r\n",
                  static_cast<int>(OsCfgSysGetNumber(OS_CFGINFO_CPU_MHZ, 0)));
  a_osfile.Printf("OS_CFGINFO_CPU_MODEL..................%d\r\n",
                  static_cast<int>(OsCfgSysGetNumber(OS_CFGINFO_CPU_MODEL, 0)));
  a_osfile.Printf("OS_CFGINFO_CPU_MODELSTRING............%s\r\n",
                  OrEmpty(OsCfgSysGetText(OS_CFGINFO_CPU_MODELSTRING, 0)));
  a_osfile.Printf("OS_CFGINFO_CPU_PROCESSBITS............%d\r\n",
                  static_cast<int>(OsCfgSysGetNumber(OS_CFGINFO_CPU_PROCESSBITS, 0)));
  a_osfile.Printf("OS_CFGINFO_CPU_STEPPING...............%d\r\n",
                  static_cast<int>(OsCfgSysGetNumber(OS_CFGINFO_CPU_STEPPING, 0)));
  a_osfile.Printf("OS_CFGINFO_CPU_TOTAL..................%d\r\n",
                  static_cast<int>(OsCfgSysGetNumber(OS_CFGINFO_CPU_TOTAL, 0)));
  a_osfile.Printf("OS_CFGINFO_CPU_VENDORSTRING...........%s\r\n",
                  OrEmpty(OsCfgSysGetText(OS_CFGINFO_CPU_VENDORSTRING, 0)));
}

void WriteItems(COsFile& a_osfile, const COsCfgImpl& a_c) {
  char l_szLabel[OS_CFG_LABEL_SIZE];
  Text(a_osfile, "\r\n*** OS Library Items *************************************\r\n");
  Text(a_osfile, "\r\nOS_CFGSECTION_MAIN\r\n");
  for (int l_iTag = 1; l_iTag <= OS_CFG_REPORT_LASTMAINTAG; ++l_iTag)
    ItemLine(a_osfile, Label(s_aoscfgtag, l_iTag, l_szLabel, sizeof(l_szLabel)), Item(a_c, OS_CFGSECTION_MAIN, l_iTag));

  Text(a_osfile, "\r\nOS_CFGSECTION_SUPPORTEDSIZES\r\n");
  for (int l_iTag = OS_CFG_REPORT_FIRSTSIZE; l_iTag <= OS_CFG_TAGS; ++l_iTag) {
    SStrPrintf(l_szLabel, sizeof(l_szLabel), "N%02d", l_iTag - OS_CFG_REPORT_FIRSTSIZE);
    ItemLine(a_osfile, l_szLabel, Item(a_c, OS_CFG_SECTION_SUPPORTEDSIZES, l_iTag));
  }

  Text(a_osfile, "\r\nOS_CFGSECTION_QRX_ALL\r\n");
  for (int l_iTag = OS_CFG_REPORT_FIRSTJPEG; l_iTag <= OS_CFG_REPORT_LASTJPEG; ++l_iTag) {
    // Pairs for the qualities 0, 5, ..., 100, the Y table first.
    const int l_iOffset = l_iTag - OS_CFG_REPORT_FIRSTJPEG;
    SStrPrintf(l_szLabel, sizeof(l_szLabel), "OS_CFGTAG_JPEGQUANTIZATION_%s_%02d", l_iOffset % 2 == 0 ? "Y" : "CBCR",
               l_iOffset / 2 * 5);
    ItemLine(a_osfile, l_szLabel, Item(a_c, OS_CFG_SECTION_QRX_ALL, l_iTag));
  }
}

// Every addressable local item, section by section; numbers without a name
// in the caller's tables print in hexadecimal.
void WriteLocalItems(COsFile& a_osfile, const COsCfgImpl& a_c) {
  if (a_c.m_paszLocalData == nullptr || a_c.m_iLocalSections <= 0 || a_c.m_iLocalTags <= 0) {
    Text(a_osfile, "\r\n*** There are no local items ************************\r\n");
    return;
  }
  char l_szLabel[OS_CFG_LABEL_SIZE];
  Text(a_osfile, "\r\n*** Local Items *************************************\r\n");
  for (int l_iSection = 0; l_iSection < a_c.m_iLocalSections; ++l_iSection) {
    const int l_iNumber = OS_CFG_LOCAL_BASE + l_iSection;
    const char* const l_szSection = Label(a_c.m_posLocalSections, l_iNumber, l_szLabel, sizeof(l_szLabel));
    a_osfile.Printf("\r\n[%s]\r\n", l_szSection);
    for (int l_iTag = 0; l_iTag < a_c.m_iLocalTags; ++l_iTag)
      ItemLine(a_osfile, Label(a_c.m_posLocalTags, OS_CFG_LOCAL_BASE + l_iTag, l_szLabel, sizeof(l_szLabel)),
               a_c.m_paszLocalData[l_iSection * a_c.m_iLocalTags + l_iTag]);
  }
}

void WriteDirectories(COsFile& a_osfile, const COsCfgImpl& a_c) {
  struct Member {
    const char* m_szName;
    const char* m_szText;  // null ends a group
  };
  const Member l_amember[] = {
      {"m_szSystemDirectory", a_c.m_szSystemDirectory},
      {"m_szHomeDirectory", a_c.m_szHomeDirectory},
      {"m_szLibraryPath", a_c.m_szLibraryPath},
      {nullptr, nullptr},
      {"m_szSharedRootWriteableDirectory", a_c.m_szSharedRootWriteableDirectory},
      {"m_szSharedRootCommonDirectory", a_c.m_szSharedRootCommonDirectory},
      {"m_szSharedUserRootDirectory", a_c.m_szSharedUserRootDirectory},
      {"m_szSharedCommonDirectory", a_c.m_szSharedCommonDirectory},
      {"m_szSharedDeviceDirectory", a_c.m_szSharedDeviceDirectory},
      {"m_szSharedUserDirectory", a_c.m_szSharedUserDirectory},
      {nullptr, nullptr},
      {"m_szRootWriteableDirectory", a_c.m_szRootWriteableDirectory},
      {"m_szRootCommonDirectory", a_c.m_szRootCommonDirectory},
      {"m_szUserRootDirectory", a_c.m_szUserRootDirectory},
      {"m_szCommonDirectory", a_c.m_szCommonDirectory},
      {"m_szUserDirectory", a_c.m_szUserDirectory},
      {"m_szDriverDirectory", a_c.m_szDriverDirectory},
      {"m_szLogDirectory", a_c.m_szLogDirectory},
      {"m_szFwDirectory", a_c.m_szFwDirectory},
      {"m_szPondoDirectory", a_c.m_szPondoDirectory},
      {"m_szUiDirectory", a_c.m_szUiDirectory},
      {"m_szTmpDirectory", a_c.m_szTmpDirectory},
      {nullptr, nullptr},
      {"m_szSimulatorFilename", a_c.m_szSimulatorFilename},
      {nullptr, nullptr},
      {"m_szConfigFilenameConstIni", a_c.m_szConfigFilenameConstIni},
      {"m_szConfigFilename", a_c.m_szConfigFilename},
      {"m_szSharedConfigFilenameConstIni", a_c.m_szSharedConfigFilenameConstIni},
      {"m_szSharedConfigFilename", a_c.m_szSharedConfigFilename},
      {"m_szLogFilename", a_c.m_szLogFilename},
      {"m_szGuiFilename", a_c.m_szGuiFilename},
      {nullptr, nullptr},
      {"m_szDesktopDirectory", a_c.m_szDesktopDirectory},
      {"m_szSharedDesktopDirectory", a_c.m_szSharedDesktopDirectory},
      {"m_szMultimediaDirectory", a_c.m_szMultimediaDirectory},
      {"m_szVirtualizedDirectory", a_c.m_szVirtualizedDirectory},
      {nullptr, nullptr},
      {"m_szApplication", a_c.m_szApplication},
      {nullptr, nullptr},
      {"m_szFudge", a_c.m_szFudge},
      {"m_szRootDirectory", a_c.m_szRootDirectory},
      {"m_szModelDirectory", a_c.m_szModelDirectory},
      {"m_szModelDirectoryReal", a_c.m_szModelDirectoryReal},
      {"m_szProgramFileName", a_c.m_szProgramFileName},
      {"m_szLibraryName", OrEmpty(a_c.m_szLibraryName)},
      {"m_szLogTimeStamp", a_c.m_szLogTimeStamp},
      {nullptr, nullptr},
      {"m_szTmp", a_c.m_szTmp},
      {"m_szFileData", a_c.m_szFileData},
      {"m_szUnitsBehavior", a_c.m_szUnitsBehavior},
      {nullptr, nullptr},
      {"m_szLogDebug", a_c.m_szLogDebug},
      {"m_szLogFilter", a_c.m_szLogFilter},
      {"m_szDebugDisplayLength", a_c.m_szDebugDisplayLength},
      {"m_szForceSocketMonitorTimeout", a_c.m_szForceSocketMonitorTimeout},
      {"m_szForceUsbMonitorTimeout", a_c.m_szForceUsbMonitorTimeout},
      {"m_szUiTimeout", a_c.m_szUiTimeout},
      {nullptr, nullptr},
      {"m_szCompanyName", a_c.m_szCompanyName},
      {"m_szCompanyNameShort", a_c.m_szCompanyNameShort},
      {"m_szCopyright", a_c.m_szCopyright},
      {"m_szProductFamily", a_c.m_szProductFamily},
      {"m_szProductName", a_c.m_szProductName},
      {nullptr, nullptr},
  };
  Text(a_osfile, "\r\n*** Directories *************************************\r\n");
  Text(a_osfile, "\r\n");
  for (const Member& l_member : l_amember) {
    if (l_member.m_szName == nullptr)
      Text(a_osfile, "---\r\n");
    else
      MemberLine(a_osfile, l_member.m_szName, l_member.m_szText);
  }
}

// The report's file name; false when the name does not fit.
bool ReportName(const COsCfgImpl& a_c, const char* a_szDirectory, char* a_szName, std::size_t a_sizetName) {
  char l_szOsCfgDir[OS_CFG_REPORTDIR_SIZE];
  if (OsCfgIsEnvUnset("QRX_OSCFGDIR") == 0 &&
      OsCfgGetEnv("QRX_OSCFGDIR", nullptr, sizeof(l_szOsCfgDir), l_szOsCfgDir, true) == OS_STS_SUCCESS &&
      l_szOsCfgDir[0] != 0) {
    // A time stamp in the name: successive reports do not overwrite each other.
    OsTimeRecord l_ostimerecord;
    char l_szStamp[OS_CFG_STAMP_SIZE];
    OsTimeGetLocal(&l_ostimerecord, 0);
    if (OsTimeToString(&l_ostimerecord, l_szStamp, sizeof(l_szStamp)) != OS_STS_SUCCESS) return false;
    return SStrPrintf(a_szName, a_sizetName, "%s/qrxoscfg_%s.txt", l_szOsCfgDir, l_szStamp) > 0;
  }
  char l_szFile[OS_PATH_SIZE];
  const bool l_bUtility = a_c.m_eoscfgentity == OS_CFG_ENTITY_UTILITY || a_c.m_eoscfgentity == OS_CFG_ENTITY_APPUTILITY;
  if (l_bUtility)
    SStrPrintf(l_szFile, sizeof(l_szFile), "qrxoscfg_%s.txt",
               OrEmpty(Item(a_c, OS_CFGSECTION_MAIN, OS_CFGTAG_MODELDIRECTORYREAL)));
  else
    SStrCpy(l_szFile, sizeof(l_szFile), "qrxoscfg.txt");
  return a_szDirectory[0] != 0 && OsFilePathJoin(a_szName, a_sizetName, a_szDirectory, l_szFile);
}

}  // namespace

EOSSTS OsCfgReport(COsCfgImpl* a_poscfgimpl, const char* a_szDirectory) {
  OS_RETURN_IF_NULL(a_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", OS_STS_FAIL);
  const COsCfgImpl& l_c = *a_poscfgimpl;
  const char* const l_szDirectory =
      a_szDirectory != nullptr ? a_szDirectory : OrEmpty(Item(l_c, OS_CFGSECTION_MAIN, OS_CFGTAG_LOGDIRECTORY));
  const EOSSTS l_eosstsDirectory = OsFileCreateDirectory(l_szDirectory, nullptr);
  OS_RETURN_IF(l_eosstsDirectory != OS_STS_SUCCESS && l_eosstsDirectory != OS_STS_EXISTS, OS_LOG_ERROR,
               "Error creating...<%s>", OS_STS_FAIL, l_szDirectory);

  char l_szName[OS_CFG_REPORTNAME_SIZE];
  OS_RETURN_IF(!ReportName(l_c, l_szDirectory, l_szName, sizeof(l_szName)), OS_LOG_ERROR, "Error creating...<%s>",
               OS_STS_FAIL, l_szDirectory);
  COsFile l_osfile;
  OS_RETURN_IF(l_osfile.Open(l_szName, OS_FILE_OPEN_ALWAYS, OS_FILE_ACCESS_WRITE, OS_FILE_SHARE_NONE) != OS_STS_SUCCESS,
               OS_LOG_ERROR, "Error creating...<%s>", OS_STS_FAIL, l_szName);

  WriteEnvironment(l_osfile);
  WriteInfo(l_osfile);
  WriteItems(l_osfile, l_c);
  WriteLocalItems(l_osfile, l_c);
  WriteDirectories(l_osfile, l_c);
  // An earlier, longer report of the same name is cut at the end of this one.
  l_osfile.SetEndOfFile();
  l_osfile.Close();
  return OS_STS_SUCCESS;
}

EOSSTS COsCfg::Report(const char* a_szDirectory) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", OS_STS_FAIL);
  return OsCfgReport(m_poscfgimpl, a_szDirectory);
}
