// Services start-up and shut-down: the identity and log settings read from
// the argument text, the version block, and a shut-down that withdraws every
// inherited-argument variable and leaves nothing open, so that start-up can
// run again in the same process.
#include <windows.h>

#include <string>
#include <vector>

#include "os.h"
#include "os_coscfg_services.h"
#include "os_cosmem_impl.h"
#include "os_test_log.h"
#include "os_test.h"

namespace {

class Services : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    m_szSaved = g_szOsServicesArguments;
    SetEnv(L"QRX_DEBUG", nullptr);
    SetEnv(L"QRX_APPDATADIR", WDir().c_str());
    SetEnv(L"QRX_COMPANYNAMESHORT", nullptr);
  }
  void TearDown() override {
    OsServicesStop();
    g_szOsServicesArguments = m_szSaved;
    OsTest::TearDown();
  }
  void Start(const char* a_szArguments) {
    g_szOsServicesArguments = a_szArguments;
    OsServicesStart(nullptr);
  }
  const OsServicesState& State() { return OsServicesGetState(); }

 private:
  const char* m_szSaved = nullptr;
};

std::vector<std::wstring> InheritedArgumentVariables() {
  std::vector<std::wstring> l_names;
  wchar_t* const l_wszBlock = GetEnvironmentStringsW();
  for (const wchar_t* l_wsz = l_wszBlock; *l_wsz != 0; l_wsz += wcslen(l_wsz) + 1)
    if (_wcsnicmp(l_wsz, L"QRX_OSSERVICESARGUMENTS", 23) == 0) l_names.emplace_back(l_wsz);
  FreeEnvironmentStringsW(l_wszBlock);
  return l_names;
}

TEST_F(Services, BuiltInTextOfAnApplication) {
  Start("<arguments>\n\t<uniquename>dirwarden</uniquename>\n\t<entity>application</entity>\n</arguments>");
  EXPECT_STREQ(State().m_szUniqueName, "dirwarden");
  EXPECT_EQ(State().m_eoscfgentity, OS_CFG_ENTITY_APPLICATION);
  EXPECT_STREQ(State().m_szLogFile, "");
  EXPECT_EQ(State().m_u32LogLevel, 0u);
  EXPECT_EQ(State().m_eosmemmethod, OS_MEM_METHOD_GLOBALALLOC);
  EXPECT_TRUE(State().m_bOwner);
  ASSERT_NE(OsMemInstance(), nullptr);
  EXPECT_EQ(OsMemInstance()->m_posmemimpl->m_eosmemmethod, OS_MEM_METHOD_GLOBALALLOC);
  EXPECT_FALSE(State().m_bForceSetAccess);
  // The test program carries no version resource: "00" for each number.
  EXPECT_STREQ(State().m_aszVersion[0], "00");
  EXPECT_STREQ(State().m_aszVersion[3], "00");
  EXPECT_STREQ(State().m_aszVersion[4], "00");
  EXPECT_STREQ(State().m_aszVersion[6], "0000");
}

TEST_F(Services, LevelFromTheEnvironmentAndTheText) {
  SetEnv(L"QRX_DEBUG", L"3");
  Start("<arguments><uniquename>t</uniquename><loglevel>4</loglevel></arguments>");
  EXPECT_EQ(State().m_u32LogLevel, 7u);
  OsServicesStop();
  SetEnv(L"QRX_DEBUG", nullptr);
  Start("<arguments><uniquename>t</uniquename></arguments>");
  EXPECT_EQ(State().m_u32LogLevel, 0u);  // nothing survives the stop
}

TEST_F(Services, WrappedAndNoneValues) {
  Start("<arguments><logfile>_T(\"0\")</logfile><logfilter>_T(\"os_cosmem ~prot\")</logfilter></arguments>");
  EXPECT_STREQ(State().m_szLogFile, "");  // "0" in the wrapped form is no file
  EXPECT_STREQ(State().m_szLogFilter, "os_cosmem ~prot");
  OsServicesStop();
  Start("<arguments><logfile>NuLl</logfile><logfilter>0</logfilter></arguments>");
  EXPECT_STREQ(State().m_szLogFile, "");
  EXPECT_STREQ(State().m_szLogFilter, "");
  OsServicesStop();
  Start("<arguments><logfile>_T(\"c:\\x\\y.log\")</logfile></arguments>");
  EXPECT_STREQ(State().m_szLogFile, "c:\\x\\y.log");
}

TEST_F(Services, EntityMemoryMethodAndForceSetAccess) {
  const struct {
    const char* m_szEntity;
    EOSCFGENTITY m_eoscfgentity;
  } l_aCase[] = {{"application", OS_CFG_ENTITY_APPLICATION},
                 {"driver", OS_CFG_ENTITY_DRIVER},
                 {"dll", OS_CFG_ENTITY_DLL},
                 {"Application", OS_CFG_ENTITY_NONE},  // exact, case-sensitive text
                 {"", OS_CFG_ENTITY_NONE}};
  for (const auto& l_case : l_aCase) {
    const std::string l_s = std::string("<arguments><entity>") + l_case.m_szEntity +
                            "</entity><memorymethod>OS_MEM_METHOD_MALLOC</memorymethod>"
                            "<forcesetaccess>true</forcesetaccess></arguments>";
    Start(l_s.c_str());
    EXPECT_EQ(State().m_eoscfgentity, l_case.m_eoscfgentity) << l_case.m_szEntity;
    EXPECT_EQ(State().m_eosmemmethod, OS_MEM_METHOD_MALLOC);
    EXPECT_TRUE(State().m_bForceSetAccess);
    OsServicesStop();
  }
}

TEST_F(Services, VersionBlockFromTheText) {
  Start(
      "<arguments><version><major>5</major><minor>12</minor><build>7</build>"
      "<year>26</year></version></arguments>");
  EXPECT_STREQ(State().m_aszVersion[0], "05");
  EXPECT_STREQ(State().m_aszVersion[1], "12");
  EXPECT_STREQ(State().m_aszVersion[2], "");  // absent fields stay empty
  EXPECT_STREQ(State().m_aszVersion[3], "07");
  EXPECT_STREQ(State().m_aszVersion[6], "0026");
}

TEST_F(Services, StopWithdrawsTheInheritedArgumentsAndLeaksNoHandle) {
  DWORD l_dwHandlesBefore = 0;
  for (int l_iRound = 0; l_iRound < 2; ++l_iRound) {
    SetEnv(L"QRX_OSSERVICESARGUMENTS", L"<arguments></arguments>");
    SetEnv(L"qrx_osservicesargumentsunicode", L"<arguments></arguments>");
    SetEnv(L"QRX_OSSERVICESARGUMENTS_1f_2a", L"x");
    SetEnv(L"QRX_OSSERVICESARGUMENTSDISABLED", L"1");
    SetEnv(L"QRX_OSSERVICESARGUMENT", L"kept");  // one character short of the prefix
    Start("<arguments><uniquename>t</uniquename><entity>application</entity></arguments>");
    OsServicesStop();
    EXPECT_TRUE(InheritedArgumentVariables().empty()) << OsTestUtf8(InheritedArgumentVariables().front());
    EXPECT_EQ(OsTestGetEnv(L"QRX_OSSERVICESARGUMENT").value_or(L""), L"kept");
    DWORD l_dwHandles = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &l_dwHandles));
    if (l_iRound == 0)
      l_dwHandlesBefore = l_dwHandles;
    else
      EXPECT_EQ(l_dwHandles, l_dwHandlesBefore);
  }
}

TEST_F(Services, StopWithoutStartAndTwice) {
  OsServicesStop();
  OsServicesStop();
  EXPECT_EQ(OsCfgInstance(), nullptr);
  EXPECT_EQ(OsLogInstance(), nullptr);
  EXPECT_EQ(OsMemInstance(), nullptr);
  EXPECT_STREQ(State().m_szUniqueName, "");
}

// The lines of every log file below a folder (the log moves into the
// layout's own log directory during start-up).
std::vector<OsTestLogLine> LogLinesBelow(const std::wstring& a_wsDir) {
  std::vector<OsTestLogLine> l_lines;
  WIN32_FIND_DATAW l_data;
  HANDLE const l_hfind = FindFirstFileW((a_wsDir + L"\\*").c_str(), &l_data);
  if (l_hfind == INVALID_HANDLE_VALUE) return l_lines;
  do {
    const std::wstring l_wsName = l_data.cFileName;
    if (l_wsName == L"." || l_wsName == L"..") continue;
    const std::wstring l_wsPath = a_wsDir + L"\\" + l_wsName;
    std::vector<OsTestLogLine> l_more;
    if (l_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      l_more = LogLinesBelow(l_wsPath);
    else if (l_wsName.size() > 4 && l_wsName.compare(l_wsName.size() - 4, 4, L".log") == 0)
      l_more = OsTestReadLog(l_wsPath);
    l_lines.insert(l_lines.end(), l_more.begin(), l_more.end());
  } while (FindNextFileW(l_hfind, &l_data));
  FindClose(l_hfind);
  return l_lines;
}

// Every allocation of a start-up and shut-down may fail: each failure is
// said (in the log, or on standard error while the log is suspended),
// nothing crashes, and every block still live went back by the end (the
// manager says so at its end otherwise). Only the program's version read
// comes before any log exists, and is said nowhere.
TEST_F(Services, EveryAllocationOfStartUpMayFail) {
  const std::wstring l_wsLog = WDir() + L"\\inject.log";
  const std::wstring l_wsErr = WDir() + L"\\stderr.txt";
  const std::string l_sArguments =
      "<arguments><uniquename>ostestinject</uniquename><entity>application</entity>"
      "<logfile>" +
      OsTestUtf8(l_wsLog) + "</logfile><loglevel>1</loglevel></arguments>";
  HANDLE const l_hstderr = GetStdHandle(STD_ERROR_HANDLE);
  // A debugging start writes its report, and so takes the environment
  // snapshot, whose blocks must be back before the manager's end too.
  SetEnv(L"QRX_DEBUG", L"1");
  SetEnv(L"QRX_OSCFGDIR", WDir().c_str());
  long l_lAt = 0;
  for (;; ++l_lAt) {
    ASSERT_LT(l_lAt, 1000) << "start-up never stopped allocating";
    DeleteFileW(l_wsLog.c_str());
    OsTestRemoveTree(WDir() + L"\\qrx_orvik");
    HANDLE const l_herr =
        CreateFileW(l_wsErr.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    SetStdHandle(STD_ERROR_HANDLE, l_herr);
    OsMemFailAfter(l_lAt);
    Start(l_sArguments.c_str());
    const bool l_bFailed = !OsMemFailurePending();
    OsServicesStop();
    OsMemFailAfter(-1);
    SetStdHandle(STD_ERROR_HANDLE, l_hstderr);
    CloseHandle(l_herr);
    const std::vector<OsTestLogLine> l_lines = LogLinesBelow(WDir());
    const std::string l_sErr = OsTestReadFile(l_wsErr);
    EXPECT_TRUE(OsTestFindLines(l_lines, "blocks still live at the end").empty()) << "failure at allocation " << l_lAt;
    if (!l_bFailed) break;
    const bool l_bSaid = !OsTestFindLines(l_lines, "OsMemAlloc failed").empty() ||
                         !OsTestFindLines(l_lines, "OsMemNew failed").empty() ||
                         l_sErr.find("OsMemNew failed") != std::string::npos ||
                         l_sErr.find("OsMemAlloc failed") != std::string::npos;
    if (l_lAt > 0) {
      EXPECT_TRUE(l_bSaid) << "failure at allocation " << l_lAt << " said nothing: " << l_sErr << [&] {
        std::string l_s;
        for (const auto& l_line : l_lines) l_s += l_line.m_sModule + ": " + l_line.m_sText + "\n";
        return l_s;
      }();
    }
  }
  EXPECT_GT(l_lAt, 0);
}

}  // namespace
