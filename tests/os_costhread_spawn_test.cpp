// A spawned program's command line: what the child's parser gives back.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "os.h"
#include "os_costhread.h"
#include "os_costhread_cmdline.h"
#include "os_costhread_impl.h"
#include "os_test_services.h"
#include "os_win.h"

#include <shellapi.h>

namespace {

// The arguments a child's parser finds after the program.
std::vector<std::wstring> Parse(const wchar_t* a_wszLine) {
  int l_iCount = 0;
  LPWSTR* const l_awsz = CommandLineToArgvW(a_wszLine, &l_iCount);
  std::vector<std::wstring> l_args;
  for (int l_i = 1; l_awsz != nullptr && l_i < l_iCount; ++l_i) l_args.push_back(l_awsz[l_i]);
  LocalFree(l_awsz);
  return l_args;
}

}  // namespace

TEST(SpawnCommandLine, EveryArgumentArrivesUnchanged) {
  const std::vector<std::wstring> l_args = {
      L"C:\\dir\\",           L"a\"b", L"a b\\",     L"",      L"\\\\\"x\\", L"x y",
      L"\\\\server\\share\\", L"\"",   L"tab\there", L"a\\\\b"};
  wchar_t l_wsz[1024] = L"\"C:\\p.exe\" ";
  for (const std::wstring& l_ws : l_args) ASSERT_TRUE(OsSpawnAppendArgument(l_wsz, 1024, l_ws.c_str(), 512, false));
  EXPECT_EQ(Parse(l_wsz), l_args) << OsTestUtf8(l_wsz);
}

TEST(SpawnCommandLine, PlainArgumentsAreQuotedAndRawOnesLeftAsTheyAre) {
  wchar_t l_wsz[64] = L"\"C:\\a b\\p.exe\" ";
  ASSERT_TRUE(OsSpawnAppendArgument(l_wsz, 64, L"x y", 512, false));
  ASSERT_TRUE(OsSpawnAppendArgument(l_wsz, 64, L"z", 512, false));
  EXPECT_STREQ(l_wsz, L"\"C:\\a b\\p.exe\" \"x y\" \"z\" ");
  wchar_t l_wszRaw[64] = L"\"C:\\a b\\p.exe\" ";
  ASSERT_TRUE(OsSpawnAppendArgument(l_wszRaw, 64, L"x y", 512, true));
  ASSERT_TRUE(OsSpawnAppendArgument(l_wszRaw, 64, L"z", 512, true));
  EXPECT_STREQ(l_wszRaw, L"\"C:\\a b\\p.exe\" x y z ");
}

TEST(SpawnCommandLine, ALongArgumentIsCutAndOneThatDoesNotFitLeavesTheLine) {
  wchar_t l_wsz[16] = L"p ";
  ASSERT_TRUE(OsSpawnAppendArgument(l_wsz, 16, L"abc\\\\def", 5, false));  // "abc\\" cut after the backslashes
  EXPECT_EQ(Parse(l_wsz), std::vector<std::wstring>{L"abc\\\\"});
  const std::wstring l_wsBefore = l_wsz;
  EXPECT_FALSE(OsSpawnAppendArgument(l_wsz, 16, L"123456", 512, false));
  EXPECT_EQ(l_wsBefore, l_wsz);
}

// ---- the child process of a COsThread ----

namespace {

class Spawn : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"spawn.log");
    m_sChild = OsTestUtf8(OsTestGetEnv(L"OS_TEST_SPAWN_CHILD").value_or(L""));
    m_wsOut = WDir() + L"\\argv.txt";
    SetEnv(L"OS_TEST_ARGV_OUT", m_wsOut.c_str());
  }
  // The lines the child wrote for one parser, as texts.
  std::vector<std::wstring> Received(const char* a_szParser) {
    std::vector<std::wstring> l_args;
    FILE* const l_pfile = _wfopen(m_wsOut.c_str(), L"r");
    char l_sz[65536];
    while (l_pfile != nullptr && std::fgets(l_sz, sizeof(l_sz), l_pfile) != nullptr) {
      char* l_pc = std::strchr(l_sz, ' ');
      if (std::strncmp(l_sz, a_szParser, std::strlen(a_szParser)) != 0 || l_sz[std::strlen(a_szParser)] > ' ') continue;
      std::wstring l_ws;
      while (l_pc != nullptr && *l_pc == ' ') {
        l_ws += static_cast<wchar_t>(std::strtoul(l_pc + 1, &l_pc, 16));
      }
      l_args.push_back(l_ws);
    }
    if (l_pfile != nullptr) std::fclose(l_pfile);
    return l_args;
  }
  std::string m_sChild;
  std::wstring m_wsOut;
};

}  // namespace

// Thirty awkward arguments, eight to a child, arrive as they were sent
// through both of the child's parsers.
TEST_F(Spawn, EveryArgumentArrivesByteForByte) {
  const std::vector<std::string> l_args = {"C:\\dir\\",
                                           "a\"b",
                                           "a b\\",
                                           "",
                                           "x y",
                                           "\\\\server\\share\\",
                                           "\"",
                                           "\"\"",
                                           "\\",
                                           "\\\\",
                                           "a\\\\b",
                                           "a\\\"b",
                                           "end\\\\\"",
                                           " lead",
                                           "trail ",
                                           "\t",
                                           "tab\there",
                                           "\xc3\xa9t\xc3\xa9",
                                           "\xe4\xb8\xad\xe6\x96\x87",
                                           "\xf0\x9f\x98\x80",
                                           "semi;colon",
                                           "amp&er|pipe",
                                           "<angle>",
                                           "%PATH%",
                                           "caret^",
                                           "'single'",
                                           "-flag=\"v w\"",
                                           "a\\ b",
                                           "\\\"",
                                           "last\\"};
  ASSERT_EQ(l_args.size(), 30u);
  for (std::size_t l_sizet = 0; l_sizet < l_args.size(); l_sizet += 8) {
    const char* l_asz[8] = {};
    std::vector<std::wstring> l_sent;
    for (std::size_t l_i = 0; l_i < 8 && l_sizet + l_i < l_args.size(); ++l_i) {
      l_asz[l_i] = l_args[l_sizet + l_i].c_str();
      l_sent.push_back(OsTestWide(l_args[l_sizet + l_i]));
    }
    COsThread l_osthread;
    ASSERT_EQ(l_osthread.Spawn(OS_SPAWN_NOWINDOW, m_sChild.c_str(), "child", l_asz[0], l_asz[1], l_asz[2], l_asz[3],
                               l_asz[4], l_asz[5], l_asz[6], l_asz[7]),
              OS_STS_SUCCESS);
    ASSERT_EQ(l_osthread.SpawnWait(60000), OS_STS_SUCCESS);
    EXPECT_EQ(Received("crt"), l_sent) << l_sizet;
    EXPECT_EQ(Received("shell"), l_sent) << l_sizet;
  }
}

TEST_F(Spawn, OneChildAtATimeAndAChildThatEndsAtOnceIsSeen) {
  SetEnv(L"OS_TEST_CHILD_MODE", L"sleep");
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Spawn(OS_SPAWN_NOWINDOW, m_sChild.c_str(), "child"), OS_STS_SUCCESS);
  EXPECT_NE(l_osthread.SpawnProcessGet(), nullptr);
  EXPECT_EQ(l_osthread.Spawn(OS_SPAWN_NOWINDOW, m_sChild.c_str(), "child"), OS_STS_FAIL);
  EXPECT_EQ(Lines("Spawn: This object already has something spawned...").size(), 1u);
  // Found by its image name in another case.
  std::uint64_t l_u64Pid = 0;
  const std::string l_sImage = m_sChild.substr(m_sChild.find_last_of("\\/") + 1);
  std::string l_sUpper = l_sImage;
  for (char& l_c : l_sUpper) l_c = static_cast<char>(std::toupper(static_cast<unsigned char>(l_c)));
  EXPECT_EQ(OsProcessIdFind(l_sUpper.c_str(), false, &l_u64Pid), OS_STS_SUCCESS);
  EXPECT_EQ(l_u64Pid, static_cast<std::uint64_t>(GetProcessId(l_osthread.SpawnProcessGet())));
  EXPECT_EQ(l_osthread.SpawnWait(0), OS_STS_TIMEOUT);
  EXPECT_EQ(l_osthread.SpawnKill(), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.SpawnProcessGet(), nullptr);
  EXPECT_EQ(OsProcessIdFind("no-such-image-here", false, &l_u64Pid), OS_STS_FAIL);
  EXPECT_EQ(l_u64Pid, 0u);
  EXPECT_EQ(OsProcessIdFind("", false, &l_u64Pid), OS_STS_FAIL);  // would match any process
  EXPECT_EQ(OsProcessIdFind(std::string(300, 'q').c_str(), false, &l_u64Pid), OS_STS_FAIL);
  // A child that ends at once, with its standard output nowhere to go.
  SetEnv(L"OS_TEST_CHILD_MODE", nullptr);
  SetEnv(L"OS_TEST_ARGV_OUT", nullptr);
  // A loaded machine may take longer than the check's 100 ms to start and
  // end a process at all: a few tries, and no verdict when none was quick.
  for (int l_iTry = 0; l_iTry < 20 && Lines("WAIT_OBJECT_0...").empty(); ++l_iTry) {
    EXPECT_EQ(l_osthread.Spawn(OS_SPAWN_NOWINDOW | OS_SPAWN_CHECKSTART, m_sChild.c_str(), "child"), OS_STS_SUCCESS);
    l_osthread.SpawnWait(60000);
  }
  if (Lines("WAIT_OBJECT_0...").empty()) GTEST_SKIP() << "no child started and ended within 100 ms on this machine";
}

TEST_F(Spawn, TheCommandLineAndDirectoryOfAProgram) {
  OsLogSetDebug(OsLogInstance(), 1 | OS_LOG_INFO);
  COsThread l_osthread;
  EXPECT_EQ(l_osthread.Spawn(OS_SPAWN_NOWINDOW, "C:\\a b\\p.exe", "p", "x y", "z"), OS_STS_FAIL);
  EXPECT_EQ(l_osthread.Spawn(OS_SPAWN_RAWARGS, "C:\\a b\\p.exe", "p", "x y", "z"), OS_STS_FAIL);
  EXPECT_EQ(Lines("Spawn: command.........\"C:\\a b\\p.exe\" \"x y\" \"z\" ").size(), 1u);
  EXPECT_EQ(Lines("Spawn: command.........\"C:\\a b\\p.exe\" x y z ").size(), 1u);
  EXPECT_EQ(Lines("Spawn: directory.......C:\\a b").size(), 2u);
  EXPECT_EQ(Lines("Spawn: Failed to spawn...<C:\\a b\\p.exe>").size(), 2u);
  EXPECT_EQ(l_osthread.Spawn(0, nullptr, "p"), OS_STS_FAIL);
  EXPECT_EQ(l_osthread.Spawn(0, "p.exe", nullptr), OS_STS_FAIL);
  EXPECT_EQ(Lines("Spawn: a_szProgram is NULL...").size() + Lines("Spawn: a_szArg0 is NULL...").size(), 2u);
}

TEST(ProcessIdFind, ARunningServiceByName) {
  std::uint64_t l_u64Pid = 0;
  EXPECT_EQ(OsProcessIdFind("PlugPlay", true, &l_u64Pid), OS_STS_SUCCESS);
  EXPECT_NE(l_u64Pid, 0u);
  EXPECT_EQ(OsProcessIdFind("NoSuchServiceAnywhere", true, &l_u64Pid), OS_STS_FAIL);
}

// The power and timer calls go through the seam: nothing here suspends the machine.
namespace {
LARGE_INTEGER s_liDue;
BOOL s_bWake;
int s_iPowerCalls;
BOOL s_bSuspend;
BOOL s_bTimerResult;
BOOL WINAPI FakeTimer(HANDLE, const LARGE_INTEGER* a_pli, LONG, PTIMERAPCROUTINE, LPVOID, BOOL a_bWake) {
  s_liDue = *a_pli;
  s_bWake = a_bWake;
  SetLastError(ERROR_ACCESS_DENIED);
  return s_bTimerResult;
}
BOOL WINAPI FakePower(BOOL a_bSuspend, BOOL) {
  ++s_iPowerCalls;
  s_bSuspend = a_bSuspend;
  return TRUE;
}
void WINAPI FakeSleep(DWORD) {}
}  // namespace

TEST_F(Spawn, SleepAndWakeArmsTheTimerAheadAndAsksForTheRightState) {
  OsPowerSeam* const l_pseam = OsThreadPowerSeam();
  const OsPowerSeam l_saved = *l_pseam;
  *l_pseam = OsPowerSeam{FakeTimer, FakePower, FakeSleep};
  for (const bool l_bHibernate : {false, true}) {
    s_bTimerResult = TRUE;
    FILETIME l_ftBefore, l_ftAfter;
    GetSystemTimeAsFileTime(&l_ftBefore);
    EXPECT_EQ(OsSystemSleepAndWake(l_bHibernate, 600), OS_STS_SUCCESS);
    GetSystemTimeAsFileTime(&l_ftAfter);
    const auto l_ll = [](const FILETIME& a_ft) {
      return static_cast<long long>(a_ft.dwHighDateTime) << 32 | a_ft.dwLowDateTime;
    };
    EXPECT_GE(s_liDue.QuadPart, l_ll(l_ftBefore) + 6000000000LL);  // absolute: positive, 600 s ahead
    EXPECT_LE(s_liDue.QuadPart, l_ll(l_ftAfter) + 6000000000LL);
    EXPECT_TRUE(s_bWake);
    EXPECT_EQ(s_bSuspend, l_bHibernate ? FALSE : TRUE);
  }
  s_bTimerResult = FALSE;
  s_iPowerCalls = 0;
  EXPECT_EQ(OsSystemSleepAndWake(false, 5), OS_STS_FAIL);
  EXPECT_EQ(s_iPowerCalls, 0);
  EXPECT_EQ(Lines("SetWaitableTimer failed...5").size(), 1u);
  *l_pseam = l_saved;
}
