// Network time: the offset parser's rules, a result that is current UTC plus
// the offset in any time zone, and the query end to end with a stand-in
// time tool: arguments that arrive whole, children that fail or hang, the
// configured server list, and an output file that never stays.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "os.h"
#include "os_costime.h"
#include "os_costime_impl.h"
#include "os_test_log.h"
#include "os_test_services.h"

namespace {

// The UTC record as seconds since 1970, by the runtime's UTC rule.
std::int64_t Seconds(const OsTimeRecord& a_r) {
  struct tm l_tm = {};
  l_tm.tm_year = a_r.m_u16Year - 1900;
  l_tm.tm_mon = a_r.m_u16Month - 1;
  l_tm.tm_mday = a_r.m_u16Day;
  l_tm.tm_hour = a_r.m_u16Hour;
  l_tm.tm_min = a_r.m_u16Minute;
  l_tm.tm_sec = a_r.m_u16Second;
  return _mkgmtime64(&l_tm);
}

// Runs a_f and expects its record to be the current UTC time plus
// a_llOffset to the second (bracketed by the clock before and after).
template <class F>
void ExpectNowPlus(std::int64_t a_llOffset, F a_f) {
  const std::int64_t l_llBefore = _time64(nullptr);
  OsTimeRecord l_r = {};
  ASSERT_EQ(a_f(&l_r), OS_STS_SUCCESS);
  const std::int64_t l_llAfter = _time64(nullptr);
  EXPECT_GE(Seconds(l_r), l_llBefore + a_llOffset);
  EXPECT_LE(Seconds(l_r), l_llAfter + a_llOffset);
  EXPECT_EQ(l_r.m_u16Millisecond, 0);
}

TEST(NetworkTimeParse, TheLastDataLineGivesTheWholeSecondsOfTheOffset) {
  struct Row {
    const char* m_szText;
    EOSSTS m_eossts;
    std::int64_t m_llSeconds;
  };
  const Row l_rows[] = {
      {"+00.0123456s\n", OS_STS_SUCCESS, 0},
      {"-12.5s", OS_STS_SUCCESS, -12},
      {"12.5", OS_STS_FAIL, 0},  // no 's'
      {"07:08:09, +3600.25s\r\n \t", OS_STS_SUCCESS, 3600},
      {"07:08:09, -00.9s", OS_STS_SUCCESS, 0},
      {"offset 42.0s", OS_STS_SUCCESS, 42},         // a space stands for '+'
      {"07:08:09, +12s", OS_STS_FAIL, 0},           // no fraction
      {"12.5s", OS_STS_FAIL, 0},                    // the start reached without a sign
      {"x12.5s", OS_STS_FAIL, 0},                   // neither digit nor sign
      {"+.5s", OS_STS_FAIL, 0},                     // a sign without digits
      {"+1234567890123456789.0s", OS_STS_FAIL, 0},  // beyond 64 bits
      {" \t\r\n", OS_STS_FAIL, 0},
      {"", OS_STS_BADARG, 0},
      {nullptr, OS_STS_BADARG, 0},
  };
  for (const Row& l_row : l_rows) {
    std::int64_t l_ll = 77;
    EXPECT_EQ(OsTimeParseOffsetSeconds(l_row.m_szText, &l_ll), l_row.m_eossts)
        << (l_row.m_szText != nullptr ? l_row.m_szText : "(null)");
    if (l_row.m_eossts == OS_STS_SUCCESS) {
      EXPECT_EQ(l_ll, l_row.m_llSeconds) << l_row.m_szText;
    }
  }
}

TEST(NetworkTimeParse, TheRecordIsCurrentUtcPlusTheOffset) {
  ExpectNowPlus(0, [](OsTimeRecord* a_p) { return OsTimeParseOffset("+00.0123456s\n", a_p); });
  ExpectNowPlus(-12, [](OsTimeRecord* a_p) { return OsTimeParseOffset("-12.5s", a_p); });
  ExpectNowPlus(86400 * 400, [](OsTimeRecord* a_p) { return OsTimeParseOffset("+34560000.5s", a_p); });
  OsTimeRecord l_r;
  std::memset(&l_r, 0xab, sizeof(l_r));
  EXPECT_EQ(OsTimeParseOffset("12.5", &l_r), OS_STS_FAIL);
  EXPECT_EQ(OsTimeParseOffset("+99999999999.0s", &l_r), OS_STS_FAIL);  // past the runtime's year 3000
  EXPECT_EQ(l_r.m_u16Year, 0xabab);                                    // written only on success
  EXPECT_EQ(OsTimeParseOffset("-12.5s", nullptr), OS_STS_BADARG);
}

// Run also with TZ set east and west of UTC (OS_TEST_TZ_EXPECT says which):
// the local rule sees the zone, the result does not.
TEST(NetworkTimeZone, TheResultIsNotShiftedByTheTimeZone) {
  OsTimeRecord l_utc = {};
  ASSERT_EQ(OsTimeGetUtc(&l_utc), OS_STS_SUCCESS);
  std::int64_t l_llLocalRule = 0;
  ASSERT_EQ(OsTimeToTimeT(&l_utc, &l_llLocalRule), OS_STS_SUCCESS);
  const std::int64_t l_llShift = Seconds(l_utc) - l_llLocalRule;  // east of UTC: positive
  const auto l_expect = OsTestGetEnv(L"OS_TEST_TZ_EXPECT");
  if (l_expect == L"east") {
    EXPECT_GT(l_llShift, 0);
  }
  if (l_expect == L"west") {
    EXPECT_LT(l_llShift, 0);
  }
  std::printf("zone shift of the local rule: %lld s\n", static_cast<long long>(l_llShift));
  ExpectNowPlus(100, [](OsTimeRecord* a_p) { return OsTimeParseOffset("07:08:09, +100.5s\r\n", a_p); });
  ExpectNowPlus(-3600, [](OsTimeRecord* a_p) { return OsTimeParseOffset("07:08:09, -3600.5s\r\n", a_p); });
}

constexpr const wchar_t* OS_TEST_SERVICE_KEY = L"SYSTEM\\CurrentControlSet\\services\\W32Time";

class NetworkTime : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"network.log");
    const auto l_tool = OsTestGetEnv(L"OS_TEST_TIMETOOL");
    ASSERT_TRUE(l_tool.has_value()) << "OS_TEST_TIMETOOL names the stand-in tool";
    m_wsTool = *l_tool;
    m_wsArgs = WDir() + L"\\args.txt";
    SetEnv(L"OS_TEST_TIMETOOL_ARGS", m_wsArgs.c_str());
    SetEnv(L"OS_TEST_TIMETOOL_MODE", nullptr);
    SetEnv(L"OS_TEST_TIMETOOL_PINGMODE", nullptr);
    OsTimeNetworkSettingsGet().m_wszTool = m_wsTool.c_str();
    const std::string l_sLogDirectory = Item(OS_CFGSECTION_MAIN, OS_CFGTAG_LOGDIRECTORY);
    ASSERT_FALSE(l_sLogDirectory.empty());
    m_wsOutput = OsTestWide(l_sLogDirectory) + L"\\gnt.txt";
  }
  void TearDown() override {
    // What the query said of a failure (children under a loaded Wine fail in ways a rerun does not show).
    if (HasFailure()) std::printf("%s:\n%s\n", OsTestUtf8(m_wsLog).c_str(), OsTestReadFile(m_wsLog).c_str());
    OsTimeNetworkSettingsGet() = OsTimeNetworkSettings();
    OsServicesTest::TearDown();
  }
  // The stand-in tool answers the ping too.
  void PingWithTool() {
    m_sPing = "\"" + OsTestUtf8(m_wsTool) + "\" ping %s";
    ASSERT_EQ(OsCfgInstance()->SetItem(OS_CFGSECTION_MAIN, 121, m_sPing.c_str()), OS_STS_SUCCESS);
  }
  std::vector<std::string> Calls() {
    std::vector<std::string> l_calls;
    std::string l_s = OsTestReadFile(m_wsArgs);
    for (std::size_t l_at; (l_at = l_s.find('\n')) != std::string::npos; l_s.erase(0, l_at + 1))
      l_calls.push_back(l_s.substr(0, l_at));
    DeleteFileW(m_wsArgs.c_str());
    return l_calls;
  }
  bool OutputExists() { return GetFileAttributesW(m_wsOutput.c_str()) != INVALID_FILE_ATTRIBUTES; }

  std::wstring m_wsTool, m_wsArgs, m_wsOutput;
  std::string m_sPing;
};

TEST_F(NetworkTime, TheQueryRunsPingAndTheToolAndRemovesTheOutput) {
  ASSERT_TRUE(OsTestWriteFile(m_wsOutput, "an earlier run's output, -99.0s\r\n"));
  SetEnv(L"OS_TEST_TIMETOOL_MODE", L"print:+3600.75s");
  // The configured ping: the system's own, to the loopback address.
  ExpectNowPlus(3600, [](OsTimeRecord* a_p) { return OsTimeGetNetwork(a_p, "127.0.0.1"); });
  EXPECT_FALSE(OutputExists());
  const auto l_calls = Calls();
  ASSERT_EQ(l_calls.size(), 1u);
  EXPECT_EQ(l_calls[0], "/stripchart|/computer:127.0.0.1|/dataonly|/samples:1");
  ASSERT_EQ(Lines("Network time: ").size(), 1u);
  EXPECT_EQ(OsTimeGetNetwork(nullptr, "127.0.0.1"), OS_STS_BADARG);
}

TEST_F(NetworkTime, EachServerNameArrivesAsOneArgument) {
  PingWithTool();
  for (const char* l_szName : {"time.example", "two words", "a\"b", "C:\\dir\\", "x\\\\\"y\\", "\xc3\xa9t\xc3\xa9"}) {
    OsTimeRecord l_r = {};
    EXPECT_EQ(OsTimeGetNetwork(&l_r, l_szName), OS_STS_SUCCESS) << l_szName;
    const auto l_calls = Calls();
    ASSERT_EQ(l_calls.size(), 2u) << l_szName;
    EXPECT_EQ(l_calls[0], std::string("ping|") + l_szName);
    EXPECT_EQ(l_calls[1], std::string("/stripchart|/computer:") + l_szName + "|/dataonly|/samples:1");
  }
  EXPECT_FALSE(OutputExists());
}

DWORD WINAPI CloseAfterAMoment(void* a_pvHandle) {
  Sleep(300);
  CloseHandle(static_cast<HANDLE>(a_pvHandle));
  return 0;
}

// An earlier query's output still held open (as a late holder of the
// child's handle keeps it, without delete sharing) is waited out, not
// taken for a file that cannot be removed. The ping names a program that
// does not start (which counts as a ping that answered), so that the query
// reaches the output at once, well within the hold.
TEST_F(NetworkTime, AnEarlierOutputStillHeldIsWaitedOut) {
  const std::string l_sPing = "\"" + OsTestUtf8(WDir()) + "\\missing.exe\" %s";
  ASSERT_EQ(OsCfgInstance()->SetItem(OS_CFGSECTION_MAIN, 121, l_sPing.c_str()), OS_STS_SUCCESS);
  HANDLE const l_h = CreateFileW(m_wsOutput.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(l_h, INVALID_HANDLE_VALUE);
  const ULONGLONG l_ullStart = GetTickCount64();
  HANDLE const l_hCloser = CreateThread(nullptr, 0, CloseAfterAMoment, l_h, 0, nullptr);
  if (l_hCloser == nullptr) CloseHandle(l_h);
  ASSERT_NE(l_hCloser, nullptr);
  OsTimeRecord l_r = {};
  EXPECT_EQ(OsTimeGetNetwork(&l_r, "time.example"), OS_STS_SUCCESS);
  EXPECT_GE(GetTickCount64() - l_ullStart, 250u);  // it waited for the holder
  WaitForSingleObject(l_hCloser, INFINITE);
  CloseHandle(l_hCloser);
  EXPECT_EQ(Count("Couldn't remove file"), 0u);
  EXPECT_FALSE(OutputExists());
}

TEST_F(NetworkTime, AFailingOrHangingChildFailsTheQueryAndTheOutputGoes) {
  PingWithTool();
  // Well above the time Wine takes to start a child while the whole suite
  // runs, so that only the hanging rows reach it.
  OsTimeNetworkSettingsGet().m_u32LimitMs = 5000;
  const std::wstring l_wsMissing = WDir() + L"\\missing.exe";
  struct Row {
    const wchar_t* m_wszPing;
    const wchar_t* m_wszTool;
    bool m_bMissingTool;
    const char* m_szMessage;
    bool m_bEnded;  // ended at the limit
  };
  const Row l_rows[] = {
      {L"exit:1", nullptr, false, "Ping failed...", false},
      {L"hang", nullptr, false, "Ping failed...", true},
      {nullptr, L"exit:3", false, "Time failed...", false},
      {nullptr, L"hang", false, "Time failed...", true},
      {nullptr, L"print:12.5", false, "Couldn't read results", false},
      {nullptr, nullptr, true, "Couldn't read results", false},  // cannot start: counts as exit code 0
  };
  for (const Row& l_row : l_rows) {
    SetEnv(L"OS_TEST_TIMETOOL_PINGMODE", l_row.m_wszPing);
    SetEnv(L"OS_TEST_TIMETOOL_MODE", l_row.m_wszTool);
    OsTimeNetworkSettingsGet().m_wszTool = l_row.m_bMissingTool ? l_wsMissing.c_str() : m_wsTool.c_str();
    const std::size_t l_sizetBefore = Lines(l_row.m_szMessage).size();
    const std::size_t l_sizetEndedBefore = Lines("did not end within 5000 ms, ending it").size();
    OsTimeRecord l_r;
    std::memset(&l_r, 0xab, sizeof(l_r));
    const ULONGLONG l_ullStart = GetTickCount64();
    EXPECT_EQ(OsTimeGetNetwork(&l_r, "time.example"), OS_STS_FAIL) << l_row.m_szMessage;
    const ULONGLONG l_ullTook = GetTickCount64() - l_ullStart;
    const OsTimeRecord l_zero = {};
    EXPECT_EQ(std::memcmp(&l_r, &l_zero, sizeof(l_r)), 0);
    EXPECT_FALSE(OutputExists());
    EXPECT_EQ(Lines(l_row.m_szMessage).size(), l_sizetBefore + 1) << l_row.m_szMessage;
    EXPECT_EQ(Lines("did not end within 5000 ms, ending it").size(), l_sizetEndedBefore + (l_row.m_bEnded ? 1 : 0));
    if (l_row.m_bEnded) {
      EXPECT_GE(l_ullTook, 4900u);
    }
    EXPECT_LT(l_ullTook, 20000u);
    Calls();
  }
  ASSERT_FALSE(Lines("Ping failed...").empty());
  EXPECT_EQ(Lines("Ping failed...")[0].m_cMark, 'E');
}

TEST_F(NetworkTime, TheConfiguredServerListGivesOnlyTheHost) {
  HKEY l_hkey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, OS_TEST_SERVICE_KEY, 0, KEY_READ, &l_hkey) == ERROR_SUCCESS) {
    RegCloseKey(l_hkey);
    GTEST_SKIP() << "the time service is configured here: its key is left alone";
  }
  PingWithTool();
  OsTimeRecord l_r = {};
  EXPECT_EQ(OsTimeGetNetwork(&l_r, ""), OS_STS_FAIL);
  ASSERT_EQ(Lines("RegOpenKeyExW failed...").size(), 1u);
  const std::wstring l_wsParameters = std::wstring(OS_TEST_SERVICE_KEY) + L"\\Parameters";
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, l_wsParameters.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &l_hkey,
                      nullptr) != ERROR_SUCCESS)
    GTEST_SKIP() << "HKLM cannot be written";
  const wchar_t l_wszList[] = L"host.example,0x9";
  const LSTATUS l_lSet =
      RegSetValueExW(l_hkey, L"NtpServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(l_wszList), sizeof(l_wszList));
  RegCloseKey(l_hkey);
  EXPECT_EQ(l_lSet, ERROR_SUCCESS);
  EXPECT_EQ(OsTimeGetNetwork(&l_r, nullptr), OS_STS_SUCCESS);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, l_wsParameters.c_str());
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, OS_TEST_SERVICE_KEY);
  const auto l_calls = Calls();
  ASSERT_EQ(l_calls.size(), 2u);
  EXPECT_EQ(l_calls[0], "ping|host.example");
  EXPECT_EQ(l_calls[1], "/stripchart|/computer:host.example|/dataonly|/samples:1");
}

}  // namespace
