// The configuration report: its sections in order, the item and member line
// formats, local items, the file name rules (utilities, QRX_OSCFGDIR with
// its time stamp), the cut at the end and the failures.
#include <windows.h>

#include <string>
#include <vector>

#include "os.h"
#include "os_coscfg_impl.h"
#include "os_test.h"
#include "os_test_log.h"
#include "os_test_services.h"

namespace {

class Report : public OsServicesTest {
 protected:
  void Start(const char* a_szExtra = nullptr) {
    OsServicesStart(a_szExtra);
    ASSERT_NE(OsCfgInstance(), nullptr);
    ASSERT_NE(OsCfgInstance()->m_poscfgimpl, nullptr);
  }
  // The report's lines (split at CR LF) from a directory of the test.
  std::vector<std::string> ReportLines(const std::string& a_sFile) {
    bool l_bComplete = false;
    std::vector<std::string> l_lines = OsTestReadLines(OsTestWide(a_sFile), &l_bComplete);
    EXPECT_TRUE(l_bComplete) << a_sFile;
    return l_lines;
  }
  static std::size_t Find(const std::vector<std::string>& a_lines, const std::string& a_s,
                          std::size_t a_sizetFrom = 0) {
    for (std::size_t l_i = a_sizetFrom; l_i < a_lines.size(); ++l_i)
      if (a_lines[l_i] == a_s) return l_i;
    return std::string::npos;
  }
  static std::string Padded(const std::string& a_sLabel, std::size_t a_sizetWidth) {
    return a_sLabel + std::string(a_sizetWidth > a_sLabel.size() ? a_sizetWidth - a_sLabel.size() : 0, ' ');
  }
  static std::string ItemLine(const std::string& a_sLabel, const std::string& a_sValue) {
    return Padded(a_sLabel, 48) + " <" + a_sValue + ">";
  }
  static std::string MemberLine(const std::string& a_sName, const std::string& a_sValue) {
    return Padded(a_sName, 36) + "= <" + a_sValue + ">";
  }
  static std::vector<std::wstring> Files(const std::wstring& a_wsPattern) {
    std::vector<std::wstring> l_files;
    WIN32_FIND_DATAW l_data;
    HANDLE const l_h = FindFirstFileW(a_wsPattern.c_str(), &l_data);
    if (l_h == INVALID_HANDLE_VALUE) return l_files;
    do {
      if (!(l_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) l_files.push_back(l_data.cFileName);
    } while (FindNextFileW(l_h, &l_data));
    FindClose(l_h);
    return l_files;
  }
};

TEST_F(Report, SectionsInOrderWithItemsAndMembers) {
  Start();
  SetEnv(L"QRX_REPORT_PROBE", L"probe value");
  const std::string l_sDir = Dir() + "\\report";
  ASSERT_EQ(OsCfgInstance()->Report(l_sDir.c_str()), OS_STS_SUCCESS);
  const std::vector<std::string> l_lines = ReportLines(l_sDir + "\\qrxoscfg.txt");
  ASSERT_FALSE(l_lines.empty());

  // The file begins with an empty line, then the environment's heading.
  EXPECT_EQ(l_lines[0], "");
  const std::size_t l_sizetEnv = Find(l_lines, "*** Environmentals ***************************************");
  const std::size_t l_sizetInfo = Find(l_lines, "*** CFG Info *********************************************");
  const std::size_t l_sizetItems = Find(l_lines, "*** OS Library Items *************************************");
  const std::size_t l_sizetMain = Find(l_lines, "OS_CFGSECTION_MAIN");
  const std::size_t l_sizetSizes = Find(l_lines, "OS_CFGSECTION_SUPPORTEDSIZES");
  const std::size_t l_sizetAll = Find(l_lines, "OS_CFGSECTION_QRX_ALL");
  const std::size_t l_sizetLocal = Find(l_lines, "*** There are no local items ************************");
  const std::size_t l_sizetDirs = Find(l_lines, "*** Directories *************************************");
  ASSERT_EQ(l_sizetEnv, 1u);
  ASSERT_LT(l_sizetEnv, l_sizetInfo);
  ASSERT_LT(l_sizetInfo, l_sizetItems);
  ASSERT_EQ(l_sizetMain, l_sizetItems + 2);
  ASSERT_EQ(l_sizetSizes, l_sizetMain + 1 + 177 + 1);  // 177 item lines, then an empty line
  ASSERT_EQ(l_sizetAll, l_sizetSizes + 1 + 51 + 1);
  ASSERT_EQ(l_sizetLocal, l_sizetAll + 1 + 42 + 1);
  ASSERT_EQ(l_sizetDirs, l_sizetLocal + 2);

  // Environment entries.
  EXPECT_NE(Find(l_lines, "QRX_REPORT_PROBE=probe value"), std::string::npos);
  EXPECT_NE(Find(l_lines, "QRX_APPDATADIR=" + Dir()), std::string::npos);
  EXPECT_LT(Find(l_lines, "QRX_REPORT_PROBE=probe value"), l_sizetInfo);

  // Machine information of processor 0.
  COsCfg* const l_poscfg = OsCfgInstance();
  EXPECT_EQ(l_lines[l_sizetInfo + 2], std::string("OS_CFGINFO_OS_BUILDSTRING.............") +
                                          l_poscfg->InfoGetText(OS_CFGINFO_OS_BUILDSTRING, 0));
  EXPECT_EQ(l_lines[l_sizetInfo + 3],
            std::string("OS_CFGINFO_OS_NAMESTRING..............") + l_poscfg->InfoGetText(OS_CFGINFO_OS_NAMESTRING, 0));
  EXPECT_EQ(l_lines[l_sizetInfo + 6], "OS_CFGINFO_MEM_TOTALPHYSICAL.........." +
                                          std::to_string(l_poscfg->InfoGetNumber64(OS_CFGINFO_MEM_TOTALPHYSICAL, 0)));
  EXPECT_EQ(l_lines[l_sizetInfo + 15], "OS_CFGINFO_CPU_IS_3DNOW..............." +
                                           std::to_string(l_poscfg->InfoGetFlag(OS_CFGINFO_CPU_IS_3DNOW, 0) ? 1 : 0));
  EXPECT_EQ(l_lines[l_sizetItems - 2], std::string("OS_CFGINFO_CPU_VENDORSTRING...........") +
                                           l_poscfg->InfoGetText(OS_CFGINFO_CPU_VENDORSTRING, 0));
  EXPECT_EQ(l_lines[l_sizetItems - 3],
            "OS_CFGINFO_CPU_TOTAL.................." + std::to_string(l_poscfg->InfoGetProcessorCount()));
  EXPECT_EQ(l_sizetItems - l_sizetInfo, 2u + 33u + 1u);  // heading, empty line, 33 lines, empty line

  // Section 1: labels from the tag-name table padded to 48, values as items.
  EXPECT_EQ(l_lines[l_sizetMain + 1], ItemLine("HomeDirectory", Item(1, 1)));
  EXPECT_EQ(l_lines[l_sizetMain + 10], ItemLine("RootPath", Dir() + "\\qrx_orvik"));
  EXPECT_EQ(l_lines[l_sizetMain + 13], ItemLine("UserRootDirectory", Item(1, 13)));
  EXPECT_EQ(l_lines[l_sizetMain + 7], ItemLine("DesktopDirectory", Item(1, 7)));  // 7 shares 6's name
  EXPECT_EQ(l_lines[l_sizetMain + 25], ItemLine("OsName", l_poscfg->InfoGetText(OS_CFGINFO_OS_NAMESTRING, 0)));
  EXPECT_EQ(l_lines[l_sizetMain + 62], ItemLine("0x00003e", Item(1, 62)));  // no name: the number
  EXPECT_EQ(l_lines[l_sizetMain + 113], ItemLine("ForceNetRetry", "2"));
  EXPECT_EQ(l_lines[l_sizetMain + 168], ItemLine("0x0000a8", ""));
  EXPECT_EQ(l_lines[l_sizetMain + 177], ItemLine("MacMfgIdentity", ""));

  // Supported sizes and the JPEG tables.
  EXPECT_EQ(l_lines[l_sizetSizes + 1], ItemLine("N00", Item(4, 221)));
  EXPECT_EQ(l_lines[l_sizetSizes + 51], ItemLine("N50", Item(4, 271)));
  EXPECT_EQ(l_lines[l_sizetAll + 1], ItemLine("OS_CFGTAG_JPEGQUANTIZATION_Y_00", ""));
  EXPECT_EQ(l_lines[l_sizetAll + 2], ItemLine("OS_CFGTAG_JPEGQUANTIZATION_CBCR_00", ""));
  EXPECT_EQ(l_lines[l_sizetAll + 3], ItemLine("OS_CFGTAG_JPEGQUANTIZATION_Y_05", ""));
  EXPECT_EQ(l_lines[l_sizetAll + 17], ItemLine("OS_CFGTAG_JPEGQUANTIZATION_Y_40", Item(5, 195)));
  EXPECT_NE(Item(5, 195), "");
  EXPECT_EQ(l_lines[l_sizetAll + 41], ItemLine("OS_CFGTAG_JPEGQUANTIZATION_Y_100", Item(5, 219)));
  EXPECT_EQ(l_lines[l_sizetAll + 42], ItemLine("OS_CFGTAG_JPEGQUANTIZATION_CBCR_100", Item(5, 220)));

  // Directory members in their groups, each group closed by "---".
  const COsCfgImpl& l_c = *l_poscfg->m_poscfgimpl;
  std::size_t l_sizet = l_sizetDirs + 2;
  EXPECT_EQ(l_lines[l_sizet], MemberLine("m_szSystemDirectory", l_c.m_szSystemDirectory));
  EXPECT_EQ(l_lines[l_sizet + 2], MemberLine("m_szLibraryPath", l_c.m_szLibraryPath));
  EXPECT_EQ(l_lines[l_sizet + 3], "---");
  EXPECT_EQ(l_lines[l_sizet + 4], MemberLine("m_szSharedRootWriteableDirectory", Dir() + "\\qrx_orvik"));
  EXPECT_EQ(l_lines[l_sizet + 10], "---");
  EXPECT_EQ(l_lines[l_sizet + 11], MemberLine("m_szRootWriteableDirectory", Dir() + "\\qrx_orvik"));
  EXPECT_EQ(l_lines[l_sizet + 19], MemberLine("m_szPondoDirectory", l_c.m_szPondoDirectory));
  EXPECT_EQ(l_lines[l_sizet + 21], MemberLine("m_szTmpDirectory", Item(1, 23)));
  EXPECT_EQ(l_lines[l_sizet + 22], "---");
  EXPECT_EQ(l_lines[l_sizet + 23], MemberLine("m_szSimulatorFilename", l_c.m_szSimulatorFilename));
  EXPECT_EQ(l_lines[l_sizet + 24], "---");
  EXPECT_EQ(l_lines[l_sizet + 29], MemberLine("m_szLogFilename", Item(1, 32)));
  EXPECT_EQ(l_lines[l_sizet + 31], "---");
  EXPECT_EQ(l_lines[l_sizet + 36], "---");
  EXPECT_EQ(l_lines[l_sizet + 37], MemberLine("m_szApplication", Item(1, 152)));
  EXPECT_EQ(l_lines[l_sizet + 38], "---");
  EXPECT_EQ(l_lines[l_sizet + 39], MemberLine("m_szFudge", "ostest"));
  EXPECT_EQ(l_lines[l_sizet + 40], MemberLine("m_szRootDirectory", "qrx_orvik"));
  EXPECT_EQ(l_lines[l_sizet + 46], "---");
  EXPECT_EQ(l_lines[l_sizet + 50], "---");
  EXPECT_EQ(l_lines[l_sizet + 51], MemberLine("m_szLogDebug", "0"));
  EXPECT_EQ(l_lines[l_sizet + 53], MemberLine("m_szDebugDisplayLength", "512"));
  EXPECT_EQ(l_lines[l_sizet + 57], "---");
  EXPECT_EQ(l_lines[l_sizet + 58], MemberLine("m_szCompanyName", l_c.m_szCompanyName));
  EXPECT_EQ(l_lines[l_sizet + 62], MemberLine("m_szProductName", l_c.m_szProductName));
  EXPECT_EQ(l_lines[l_sizet + 63], "---");
  EXPECT_EQ(l_lines.size(), l_sizet + 64);  // nothing after the last group
}

TEST_F(Report, LogDirectoryByDefaultAndCutAtTheEnd) {
  Start();
  const std::string l_sFile = Item(1, 12) + "\\qrxoscfg.txt";
  // An earlier, longer file of the same name is cut to the new report.
  HANDLE const l_h = CreateFileW(OsTestWide(l_sFile).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
  const std::string l_sJunk(400000, 'x');
  DWORD l_dw = 0;
  WriteFile(l_h, l_sJunk.data(), static_cast<DWORD>(l_sJunk.size()), &l_dw, nullptr);
  CloseHandle(l_h);
  ASSERT_EQ(OsCfgInstance()->Report(nullptr), OS_STS_SUCCESS);
  const std::string l_sReport = OsTestReadFile(OsTestWide(l_sFile));
  EXPECT_LT(l_sReport.size(), l_sJunk.size());
  EXPECT_EQ(l_sReport.find('x' + std::string(100, 'x')), std::string::npos);
  EXPECT_EQ(l_sReport.substr(l_sReport.size() - 5), "---\r\n");
}

TEST_F(Report, LocalItemsAreListedBySection) {
  static const OsCfgName s_asection[] = {{"none", 1000}, {"Scanner", 1001}, {nullptr, 0}};
  static const OsCfgName s_atag[] = {{"none", 1000}, {"Speed", 1001}, {nullptr, 0}};
  // Sections 1000 to 1002 and tags 1000 to 1002: 3 x 3 entries.
  static const char* s_aszData[9] = {nullptr, nullptr, nullptr, nullptr, "fast", nullptr, nullptr, "slow", nullptr};
  char l_szExtra[256];
  snprintf(l_szExtra, sizeof(l_szExtra),
           "<cfgsectionptr>%p</cfgsectionptr><cfgtagptr>%p</cfgtagptr><cfgdataptr>%p</cfgdataptr>",
           static_cast<const void*>(s_asection), static_cast<const void*>(s_atag), static_cast<const void*>(s_aszData));
  Start(l_szExtra);
  ASSERT_STREQ(OsCfgInstance()->GetItem(1001, 1001), "fast");
  ASSERT_EQ(OsCfgInstance()->Report(Dir().c_str()), OS_STS_SUCCESS);
  const std::vector<std::string> l_lines = ReportLines(Dir() + "\\qrxoscfg.txt");
  EXPECT_EQ(Find(l_lines, "*** There are no local items ************************"), std::string::npos);
  const std::size_t l_sizet = Find(l_lines, "*** Local Items *************************************");
  ASSERT_NE(l_sizet, std::string::npos);
  const std::vector<std::string> l_expected = {
      "",
      "[none]",
      ItemLine("none", ""),
      ItemLine("Speed", ""),
      ItemLine("0x0003ea", ""),
      "",
      "[Scanner]",
      ItemLine("none", ""),
      ItemLine("Speed", "fast"),
      ItemLine("0x0003ea", ""),
      "",
      "[0x0003ea]",
      ItemLine("none", ""),
      ItemLine("Speed", "slow"),
      ItemLine("0x0003ea", ""),
      "",
      "*** Directories *************************************",
  };
  ASSERT_GE(l_lines.size(), l_sizet + 1 + l_expected.size());
  for (std::size_t l_i = 0; l_i < l_expected.size(); ++l_i)
    EXPECT_EQ(l_lines[l_sizet + 1 + l_i], l_expected[l_i]) << l_i;
}

TEST_F(Report, OsCfgDirNamesCarryTheTimeStamp) {
  Start();
  const std::wstring l_wsDir = WDir() + L"\\oscfgdir";
  ASSERT_TRUE(CreateDirectoryW(l_wsDir.c_str(), nullptr));
  SetEnv(L"QRX_OSCFGDIR", l_wsDir.c_str());
  ASSERT_EQ(OsCfgInstance()->Report(Dir().c_str()), OS_STS_SUCCESS);
  Sleep(20);  // the stamp counts milliseconds; the system clock may tick coarser
  ASSERT_EQ(OsCfgInstance()->Report(Dir().c_str()), OS_STS_SUCCESS);
  const std::vector<std::wstring> l_files = Files(l_wsDir + L"\\qrxoscfg_*.txt");
  ASSERT_EQ(l_files.size(), 2u);
  EXPECT_NE(l_files[0], l_files[1]);
  for (const std::wstring& l_ws : l_files)
    EXPECT_EQ(l_ws.size(), std::wstring(L"qrxoscfg_.txt").size() + 17) << OsTestUtf8(l_ws);
  // Nothing went to the directory of the argument.
  EXPECT_TRUE(Files(WDir() + L"\\qrxoscfg*.txt").empty());
}

TEST_F(Report, UtilityNameCarriesTheRealModel) {
  Start();
  COsCfgImpl* const l_poscfgimpl = OsCfgInstance()->m_poscfgimpl;
  const EOSCFGENTITY l_eoscfgentity = l_poscfgimpl->m_eoscfgentity;
  l_poscfgimpl->m_eoscfgentity = OS_CFG_ENTITY_UTILITY;
  OsCfgInstance()->SetItem(1, 17, "modelx");
  const EOSSTS l_eossts = OsCfgInstance()->Report(Dir().c_str());
  l_poscfgimpl->m_eoscfgentity = l_eoscfgentity;
  ASSERT_EQ(l_eossts, OS_STS_SUCCESS);
  EXPECT_NE(GetFileAttributesW((WDir() + L"\\qrxoscfg_modelx.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Report, FailuresAreReported) {
  Start();
  const std::wstring l_wsLog = WDir() + L"\\report.log";
  OsLogReconfigure(OsLogInstance(), OsTestUtf8(l_wsLog).c_str(), 1 | OS_LOG_OPT_NOSTAMP, nullptr, nullptr);
  // A file where the directory should be.
  const std::wstring l_wsBlocked = WDir() + L"\\blocked";
  HANDLE l_h = CreateFileW(l_wsBlocked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
  CloseHandle(l_h);
  const std::string l_sBlocked = OsTestUtf8(l_wsBlocked) + "\\sub";
  EXPECT_EQ(OsCfgInstance()->Report(l_sBlocked.c_str()), OS_STS_FAIL);
  // The report file held open by someone else: the exclusive open fails.
  const std::wstring l_wsFile = WDir() + L"\\qrxoscfg.txt";
  l_h = CreateFileW(l_wsFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OsCfgInstance()->Report(Dir().c_str()), OS_STS_FAIL);
  CloseHandle(l_h);
  const auto l_lines = OsTestFindLines(OsTestReadLog(l_wsLog), "Error creating...<");
  ASSERT_EQ(l_lines.size(), 2u);
  EXPECT_EQ(l_lines[0].m_sText, "Error creating...<" + l_sBlocked + ">");
  EXPECT_EQ(l_lines[0].m_cMark, 'E');
  EXPECT_EQ(l_lines[1].m_sText, "Error creating...<" + Dir() + "\\qrxoscfg.txt>");
}

TEST_F(Report, DebugWritesTheReportWhileTheDirectoriesAreResolved) {
  SetEnv(L"QRX_DEBUG", L"0");
  Start();
  EXPECT_NE(GetFileAttributesW(OsTestWide(Item(1, 12) + "\\qrxoscfg.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
