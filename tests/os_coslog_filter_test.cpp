// Which lines the log keeps: the module filter with its keywords and "~"
// exclusions (given at creation and by re-configuration), the treatment of
// classes 1 and 64, and the options that narrow the classes.
#include <windows.h>

#include <set>
#include <string>

#include "os.h"
#include "os_test.h"
#include "os_test_log.h"

namespace {

class LogFilter : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    for (const wchar_t* l_wsz : {L"QRX_LOGDIR", L"QRX_DEBUGDIR", L"QRX_ASSERT"}) SetEnv(l_wsz, nullptr);
    SetEnv(L"QRX_APPDATADIR", WDir().c_str());  // the tree in the test's own directory
    m_wsLog = WDir() + L"\\filter.log";
    m_sLog = OsTestUtf8(m_wsLog);
  }
  void TearDown() override {
    if (m_poslog != nullptr) OsLogDestroy(m_poslog);
    OsTest::TearDown();
  }
  void Create(std::uint32_t a_u32Level, const char* a_szFilter) {
    m_poslog = OsLogCreate("ostest", m_sLog.c_str(), a_u32Level, a_szFilter);
    ASSERT_NE(m_poslog, nullptr);
    OsLogSetAssertEcho(m_poslog, false);
  }
  // One line per (module, class), the text naming both.
  void Print(const char* a_szFile, int a_iLevel) {
    SetLastError(0xdeadbeef);
    OsLogPrint(m_poslog, a_szFile, 10, a_iLevel, "line %s %d", a_szFile, a_iLevel);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
  }
  // The "module class" pairs found in the file, checked against the prefix.
  std::set<std::string> Kept() {
    std::set<std::string> l_kept;
    for (const OsTestLogLine& l_line : OsTestReadLog(m_wsLog)) {
      EXPECT_TRUE(l_line.m_bValid) << l_line.m_sRaw;
      if (l_line.m_sText.rfind("line ", 0) != 0) continue;
      const std::string l_sRest = l_line.m_sText.substr(5);
      const std::string l_sFile = l_sRest.substr(0, l_sRest.find(' '));
      EXPECT_EQ(l_sFile.substr(0, l_sFile.rfind('.')), l_line.m_sModule);
      l_kept.insert(l_line.m_sModule + " " + l_sRest.substr(l_sRest.find(' ') + 1));
    }
    return l_kept;
  }
  std::string HeaderFilter() {
    const auto l_lines = OsTestReadLog(m_wsLog);
    if (l_lines.empty()) return "?";
    const std::string& l_s = l_lines[0].m_sText;
    const std::size_t l_sizetStart = l_s.find("DebugFilter=<");
    const std::size_t l_sizetEnd = l_s.find("> Version=");
    if (l_sizetStart == std::string::npos || l_sizetEnd == std::string::npos) return "?";
    return l_s.substr(l_sizetStart + 13, l_sizetEnd - l_sizetStart - 13);
  }

  std::wstring m_wsLog;
  std::string m_sLog;
  COsLog* m_poslog = nullptr;
};

const char* const s_aszModules[] = {"qrxhal_usb.cpp", "qrxprot_tcp.cpp", "os_cosmem_track.cpp", "os_cosmem_prot.cpp",
                                    "os_cosfile.cpp"};

TEST_F(LogFilter, KeywordsExpandOnReconfiguration) {
  Create(0, nullptr);
  OsLogReconfigure(m_poslog, m_sLog.c_str(), 1 | OS_LOG_OPT_NOSTAMP, "WIRE\tos_cosmem ~Prot", nullptr);
  for (const char* l_sz : s_aszModules) {
    Print(l_sz, OS_LOG_INFO);
    Print(l_sz, OS_LOG_ASSERT);
    Print(l_sz, OS_LOG_ERROR);
  }
  const std::set<std::string> l_expected = {"qrxhal_usb 4", "qrxhal_usb 64", "os_cosmem_track 4", "os_cosmem_track 64",
                                            // class 1 is never subject to the filter
                                            "qrxhal_usb 1", "qrxprot_tcp 1", "os_cosmem_track 1", "os_cosmem_prot 1",
                                            "os_cosfile 1"};
  EXPECT_EQ(Kept(), l_expected);
  EXPECT_EQ(HeaderFilter(), "qrxhal qrxprot os_cosmem ~prot");
  // The re-configuration's own line comes from a module the filter drops.
  EXPECT_EQ(OsTestFindLines(OsTestReadLog(m_wsLog), "### OsServicesStart...").size(), 0u);
}

TEST_F(LogFilter, FilterAtCreationIsTakenAsGiven) {
  Create(1 | OS_LOG_OPT_NOSTAMP, "WIRE os_cosmem ~prot");
  for (const char* l_sz : s_aszModules) Print(l_sz, OS_LOG_INFO);
  EXPECT_EQ(Kept(), (std::set<std::string>{"os_cosmem_track 4"}));
  EXPECT_EQ(HeaderFilter(), "WIRE os_cosmem ~prot");
}

TEST_F(LogFilter, OtherKeywordsAndCaseAtReconfiguration) {
  Create(0, nullptr);
  OsLogReconfigure(m_poslog, m_sLog.c_str(), 1, "twain XML Os_CosFile", nullptr);
  for (const char* l_sz : {"qrxdat_a.cpp", "twn_b.cpp", "db_cdbdatum.cpp", "twn_ctwngui.cpp", "img_cimgpondo_x.cpp",
                           "os_cosfile_path.cpp", "os_coscfg.cpp"})
    Print(l_sz, OS_LOG_INFO);
  EXPECT_EQ(Kept(), (std::set<std::string>{"qrxdat_a 4", "twn_b 4", "db_cdbdatum 4", "twn_ctwngui 4",
                                           "img_cimgpondo_x 4", "os_cosfile_path 4"}));
  EXPECT_EQ(HeaderFilter(), "qrxdat twn_ db_cdbdatum twn_ctwngui img_cimgpondo os_cosfile");
}

TEST_F(LogFilter, OnlyExclusionsKeepEverythingElse) {
  Create(1 | OS_LOG_OPT_NOSTAMP, "~prot ~xml ~");
  for (const char* l_sz : {"os_cosfile.cpp", "qrxprot_tcp.cpp", "os_cosxml_tag.cpp", "os_cosmem.cpp"})
    Print(l_sz, OS_LOG_INFO);
  EXPECT_EQ(Kept(), (std::set<std::string>{"os_cosfile 4", "os_cosmem 4"}));
}

TEST_F(LogFilter, EmptyFilterKeepsAllAndReconfigurationWithoutFilterKeepsTokens) {
  Create(1 | OS_LOG_OPT_NOSTAMP, "");
  for (const char* l_sz : s_aszModules) Print(l_sz, OS_LOG_INFO);
  EXPECT_EQ(Kept().size(), 5u);
  OsLogReconfigure(m_poslog, nullptr, 1 | OS_LOG_OPT_NOSTAMP, "os_cosfile", nullptr);
  OsLogReconfigure(m_poslog, nullptr, 1 | OS_LOG_OPT_NOSTAMP, nullptr, nullptr);
  Print("qrxhal_usb.cpp", OS_LOG_PROCESS);
  Print("os_cosfile.cpp", OS_LOG_PROCESS);
  const auto l_kept = Kept();
  EXPECT_EQ(l_kept.count("qrxhal_usb 128"), 0u);
  EXPECT_EQ(l_kept.count("os_cosfile 128"), 1u);
}

TEST_F(LogFilter, OnlySelectAndOnlyMemoryKeepErrorsAndAsserts) {
  Create(1 | OS_LOG_OPT_NOSTAMP | OS_LOG_OPT_ONLYSELECT, nullptr);
  for (int l_iLevel :
       {OS_LOG_ERROR, OS_LOG_SYNC, OS_LOG_INFO, OS_LOG_SELECT, OS_LOG_ASSERT, OS_LOG_PROCESS, OS_LOG_MEM})
    Print("m.cpp", l_iLevel);
  EXPECT_EQ(Kept(), (std::set<std::string>{"m 1", "m 8", "m 64"}));
  OsLogDestroy(m_poslog);
  m_poslog = nullptr;
  DeleteFileW(m_wsLog.c_str());

  Create(1 | OS_LOG_OPT_NOSTAMP | OS_LOG_OPT_ONLYMEM, nullptr);
  for (int l_iLevel : {OS_LOG_ERROR, OS_LOG_INFO, OS_LOG_SELECT, OS_LOG_ASSERT, OS_LOG_PROCESS, OS_LOG_MEM, OS_LOG_MEM2,
                       OS_LOG_MEM3, OS_LOG_MEM4})
    Print("m.cpp", l_iLevel);
  EXPECT_EQ(Kept(), (std::set<std::string>{"m 1", "m 64", "m 256", "m 4352", "m 33024", "m 33280"}));
  OsLogDestroy(m_poslog);
  m_poslog = nullptr;
  DeleteFileW(m_wsLog.c_str());

  // 0x10 wins over 0x40.
  Create(1 | OS_LOG_OPT_NOSTAMP | OS_LOG_OPT_ONLYSELECT | OS_LOG_OPT_ONLYMEM, nullptr);
  for (int l_iLevel : {OS_LOG_SELECT, OS_LOG_MEM}) Print("m.cpp", l_iLevel);
  EXPECT_EQ(Kept(), (std::set<std::string>{"m 8"}));
}

TEST_F(LogFilter, ErrorsOnlyKeepsErrorsAssertsAndLifeCycle) {
  Create(1 | OS_LOG_OPT_NOSTAMP | OS_LOG_OPT_ERRORSONLY, "~m");
  for (int l_iLevel : {OS_LOG_ERROR, OS_LOG_INFO, OS_LOG_SELECT, OS_LOG_ASSERT, OS_LOG_PROCESS, OS_LOG_MEM}) {
    Print("x.cpp", l_iLevel);
    Print("m.cpp", l_iLevel);
  }
  // Class 64 and 128 still meet the module filter; class 1 does not.
  EXPECT_EQ(Kept(), (std::set<std::string>{"x 1", "x 64", "x 128", "m 1"}));
  EXPECT_EQ(OsLogGetDebug(m_poslog) & OS_LOG_OPT_ERRORSONLY, OS_LOG_OPT_ERRORSONLY);  // stays in the mask
}

TEST_F(LogFilter, ExtraClassOnlyWithItsOption) {
  Create(1 | OS_LOG_OPT_NOSTAMP | OS_LOG_OPT_ERRORSONLY | OS_LOG_OPT_ONLYSELECT, nullptr);
  Print("x.cpp", OS_LOG_EXTRA);
  EXPECT_EQ(Kept().size(), 0u);
  OsLogDestroy(m_poslog);
  DeleteFileW(m_wsLog.c_str());
  // With 0x400 class 32 passes even errors-only and only-select.
  Create(1 | OS_LOG_OPT_NOSTAMP | OS_LOG_OPT_ERRORSONLY | OS_LOG_OPT_ONLYSELECT | OS_LOG_OPT_EXTRA, nullptr);
  Print("x.cpp", OS_LOG_EXTRA);
  Print("x.cpp", OS_LOG_INFO);
  EXPECT_EQ(Kept(), (std::set<std::string>{"x 32"}));
}

}  // namespace
