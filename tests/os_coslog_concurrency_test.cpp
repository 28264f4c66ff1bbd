// The log under concurrency: 64 thread slots, the 65th living thread losing
// its lines, reuse of an ended thread's slot, and several processes with
// several threads each appending to one file without losing a line.
#include <windows.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "os.h"
#include "os_test.h"
#include "os_test_log.h"

namespace {

constexpr int OS_TEST_CHILDREN = 3;
constexpr int OS_TEST_CHILD_THREADS = 8;
constexpr int OS_TEST_CHILD_LINES = 2000;

class LogConcurrency : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    for (const wchar_t* l_wsz : {L"QRX_LOGDIR", L"QRX_DEBUGDIR"}) SetEnv(l_wsz, nullptr);
    SetEnv(L"QRX_APPDATADIR", WDir().c_str());  // the tree in the test's own directory
    m_wsLog = WDir() + L"\\threads.log";
  }
  std::wstring m_wsLog;
};

struct OsTestHolder {
  COsLog* m_poslog;
  int m_iId;
  HANDLE m_hevtRelease;
  volatile LONG* m_plReady;
};

// Logs once, then keeps its slot alive until released.
DWORD WINAPI HolderThread(void* a_pv) {
  OsTestHolder* const l_pholder = static_cast<OsTestHolder*>(a_pv);
  OsLogPrint(l_pholder->m_poslog, "os_coslog_holder.cpp", l_pholder->m_iId, OS_LOG_INFO, "holder %d", l_pholder->m_iId);
  InterlockedIncrement(l_pholder->m_plReady);
  WaitForSingleObject(l_pholder->m_hevtRelease, INFINITE);
  return 0;
}

struct OsTestOnce {
  COsLog* m_poslog;
  const char* m_szText;
};

DWORD WINAPI OnceThread(void* a_pv) {
  const OsTestOnce* const l_ponce = static_cast<const OsTestOnce*>(a_pv);
  OsLogPrint(l_ponce->m_poslog, "os_coslog_once.cpp", 1, OS_LOG_INFO, "%s", l_ponce->m_szText);
  return 0;
}

// Runs a thread that logs one line and waits for its end; its thread id.
DWORD RunOnce(COsLog* a_poslog, const char* a_szText) {
  OsTestOnce l_once = {a_poslog, a_szText};
  DWORD l_dwId = 0;
  HANDLE const l_hthread = CreateThread(nullptr, 0, OnceThread, &l_once, 0, &l_dwId);
  EXPECT_NE(l_hthread, nullptr);
  if (l_hthread == nullptr) return 0;
  EXPECT_EQ(WaitForSingleObject(l_hthread, 30000), WAIT_OBJECT_0);
  CloseHandle(l_hthread);
  return l_dwId;
}

TEST_F(LogConcurrency, SixtyFifthThreadLosesItsLinesUntilASlotIsFree) {
  COsLog* const l_poslog = OsLogCreate("ostest", OsTestUtf8(m_wsLog).c_str(), 1 | OS_LOG_OPT_NOSTAMP, nullptr);
  ASSERT_NE(l_poslog, nullptr);
  constexpr int l_iSlots = 64;
  volatile LONG l_lReady = 0;
  std::vector<OsTestHolder> l_holders(l_iSlots);
  std::vector<HANDLE> l_threads;
  for (int l_i = 0; l_i < l_iSlots; ++l_i) {
    l_holders[l_i] = {l_poslog, l_i, CreateEventW(nullptr, TRUE, FALSE, nullptr), &l_lReady};
    l_threads.push_back(CreateThread(nullptr, 0, HolderThread, &l_holders[l_i], 0, nullptr));
    ASSERT_NE(l_threads.back(), nullptr);
  }
  for (int l_iWait = 0; l_iWait < 3000 && l_lReady < l_iSlots; ++l_iWait) Sleep(10);
  ASSERT_EQ(l_lReady, l_iSlots);

  RunOnce(l_poslog, "sixty-fifth");
  // One holder ends: its slot goes to the next thread that logs.
  SetEvent(l_holders[17].m_hevtRelease);
  EXPECT_EQ(WaitForSingleObject(l_threads[17], 30000), WAIT_OBJECT_0);
  CloseHandle(l_threads[17]);
  l_threads[17] = nullptr;
  const DWORD l_dwReuser = RunOnce(l_poslog, "reuses a slot");
  RunOnce(l_poslog, "and again");  // the reuser has ended too: its slot is free again

  for (int l_i = 0; l_i < l_iSlots; ++l_i) {
    SetEvent(l_holders[l_i].m_hevtRelease);
    if (l_threads[l_i] != nullptr) {
      EXPECT_EQ(WaitForSingleObject(l_threads[l_i], 30000), WAIT_OBJECT_0);
      CloseHandle(l_threads[l_i]);
    }
    CloseHandle(l_holders[l_i].m_hevtRelease);
  }
  OsLogDestroy(l_poslog);

  const auto l_lines = OsTestReadLog(m_wsLog);
  std::set<std::string> l_holderTexts;
  for (const auto& l_line : OsTestFindLines(l_lines, "holder ")) l_holderTexts.insert(l_line.m_sText);
  EXPECT_EQ(l_holderTexts.size(), static_cast<std::size_t>(l_iSlots));
  EXPECT_EQ(OsTestFindLines(l_lines, "sixty-fifth").size(), 0u);
  const auto l_reused = OsTestFindLines(l_lines, "reuses a slot");
  ASSERT_EQ(l_reused.size(), 1u);
  EXPECT_EQ(l_reused[0].m_ullThread, l_dwReuser);
  EXPECT_EQ(OsTestFindLines(l_lines, "and again").size(), 1u);
}

TEST_F(LogConcurrency, ReentryFromTheSameThreadIsDropped) {
  // The log converts its path for every open; a path with broken UTF-8 makes
  // that conversion report into the very log that is writing. The nested
  // call is dropped; the outer line goes to the fallback file.
  const std::wstring l_wsFallback = L"c:\\ostestreentry.log";
  DeleteFileW(l_wsFallback.c_str());
  const std::string l_sArguments = "<arguments><uniquename>ostestreentry</uniquename></arguments>";
  const char* const l_szSaved = g_szOsServicesArguments;
  g_szOsServicesArguments = l_sArguments.c_str();
  OsServicesStart(nullptr);
  OsLogSetAssertEcho(OsLogInstance(), false);
  OsLogReconfigure(OsLogInstance(), (OsTestUtf8(WDir()) + "\\bad\xc3.log").c_str(), 1 | OS_LOG_OPT_NOSTAMP, nullptr,
                   nullptr);
  SetLastError(0xdeadbeef);
  OsLogPrint(OsLogInstance(), "x.cpp", 1, OS_LOG_ERROR, "outer line");
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);
  // The echo of a broken assumption flushes the same path: that must
  // neither log again nor echo again (it once recursed until the stack ran out).
  OsLogSetAssertEcho(OsLogInstance(), true);
  OsLogPrint(OsLogInstance(), "x.cpp", 2, OS_LOG_ASSERT, "echoed once");
  OsServicesStop();
  g_szOsServicesArguments = l_szSaved;
  const auto l_lines = OsTestReadLog(l_wsFallback);
  DeleteFileW(l_wsFallback.c_str());
  EXPECT_EQ(OsTestFindLines(l_lines, "outer line").size(), 1u);
  EXPECT_EQ(OsTestFindLines(l_lines, "echoed once").size(), 1u);
  EXPECT_EQ(OsTestFindLines(l_lines, "### OsServicesStop...").size(), 1u);
  EXPECT_EQ(OsTestFindLines(l_lines, "CopyStringFromUtf8 failed").size(), 0u);
}

// Memory traces are written after the memory lock is let go: a thread
// whose trace waits for the log file holds up no other thread's use of the
// memory manager.
TEST_F(LogConcurrency, AMemoryTraceWaitingForTheLogHoldsNoMemoryLock) {
  const std::string l_sArguments = "<arguments><uniquename>ostestmemtrace</uniquename></arguments>";
  const char* const l_szSaved = g_szOsServicesArguments;
  g_szOsServicesArguments = l_sArguments.c_str();
  OsServicesStart(nullptr);
  OsLogSetAssertEcho(OsLogInstance(), false);
  OsLogReconfigure(OsLogInstance(), OsTestUtf8(m_wsLog).c_str(), 1 | OS_LOG_MEM | OS_LOG_OPT_NOSTAMP, nullptr, nullptr);
  void* const l_pvKnown = OS_MEM_ALLOC(16, "known");  // the file and its header exist from here on
  // The log's own append lock, held from outside: every line now waits.
  HANDLE const l_hfile = CreateFileW(m_wsLog.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(l_hfile, INVALID_HANDLE_VALUE);
  OVERLAPPED l_overlapped = {};
  l_overlapped.Offset = 0xFFFFFFF0;
  l_overlapped.OffsetHigh = 0x7FFFFFFF;
  ASSERT_TRUE(LockFileEx(l_hfile, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &l_overlapped));
  std::thread l_tracer([] { OS_MEM_FREE(OS_MEM_ALLOC(16, "traced")); });
  Sleep(200);  // the tracer waits in the log by now
  HANDLE const l_hevtFound = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread l_finder([l_pvKnown, l_hevtFound] {
    OsMemSettings l_settings;
    if (OsMemFindByAddress(l_pvKnown, &l_settings, true) == OS_STS_SUCCESS) SetEvent(l_hevtFound);
  });
  EXPECT_EQ(WaitForSingleObject(l_hevtFound, 2000), WAIT_OBJECT_0) << "the memory lock waited for the log";
  UnlockFileEx(l_hfile, 0, 1, 0, &l_overlapped);
  l_tracer.join();
  l_finder.join();
  CloseHandle(l_hevtFound);
  CloseHandle(l_hfile);
  OS_MEM_FREE(l_pvKnown);
  OsServicesStop();
  g_szOsServicesArguments = l_szSaved;
  EXPECT_EQ(OsTestFindLines(OsTestReadLog(m_wsLog), "FN:traced").size(), 2u);  // the lines stay the same
}

// ---- several processes ----

// Runs in each child process only: started by the test below with the
// file in OS_TEST_LOG_CHILD.
TEST(LogChild, DISABLED_AppendFromEightThreads) {
  const auto l_wsPath = OsTestGetEnv(L"OS_TEST_LOG_CHILD");
  const auto l_wsId = OsTestGetEnv(L"OS_TEST_LOG_CHILD_ID");
  ASSERT_TRUE(l_wsPath.has_value());
  ASSERT_TRUE(l_wsId.has_value());
  const int l_iChild = std::stoi(*l_wsId);
  COsLog* const l_poslog = OsLogCreate("ostestchild", nullptr, 0, nullptr);
  ASSERT_NE(l_poslog, nullptr);
  // Append: a later process must not empty what the others wrote.
  OsLogReconfigure(l_poslog, OsTestUtf8(*l_wsPath).c_str(), 1 | OS_LOG_OPT_APPEND, nullptr, nullptr);
  ASSERT_NE(OsLogGetDebug(l_poslog), 0u);
  std::vector<std::thread> l_threads;
  for (int l_iThread = 0; l_iThread < OS_TEST_CHILD_THREADS; ++l_iThread)
    l_threads.emplace_back([l_poslog, l_iChild, l_iThread] {
      for (int l_iLine = 0; l_iLine < OS_TEST_CHILD_LINES; ++l_iLine)
        OsLogPrint(l_poslog, "os_coslog_child.cpp", l_iLine, OS_LOG_INFO, "child %d thread %d line %d", l_iChild,
                   l_iThread, l_iLine);
    });
  for (std::thread& l_thread : l_threads) l_thread.join();
  OsLogDestroy(l_poslog);
}

TEST_F(LogConcurrency, ThreeProcessesOfEightThreadsLoseNoLine) {
  wchar_t l_wszExe[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, l_wszExe, MAX_PATH), 0u);
  SetEnv(L"OS_TEST_LOG_CHILD", m_wsLog.c_str());
  HANDLE l_ahprocess[OS_TEST_CHILDREN] = {};
  for (int l_i = 0; l_i < OS_TEST_CHILDREN; ++l_i) {
    SetEnv(L"OS_TEST_LOG_CHILD_ID", std::to_wstring(l_i).c_str());
    std::wstring l_wsCommand = std::wstring(L"\"") + l_wszExe +
                               L"\" --gtest_filter=LogChild.DISABLED_AppendFromEightThreads "
                               L"--gtest_also_run_disabled_tests";
    STARTUPINFOW l_si = {};
    l_si.cb = sizeof(l_si);
    PROCESS_INFORMATION l_pi = {};
    ASSERT_TRUE(
        CreateProcessW(l_wszExe, l_wsCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &l_si, &l_pi))
        << GetLastError();
    CloseHandle(l_pi.hThread);
    l_ahprocess[l_i] = l_pi.hProcess;
  }
  const DWORD l_dwWait = WaitForMultipleObjects(OS_TEST_CHILDREN, l_ahprocess, TRUE, 300000);
  EXPECT_LT(l_dwWait, static_cast<DWORD>(WAIT_OBJECT_0 + OS_TEST_CHILDREN));
  for (HANDLE l_hprocess : l_ahprocess) {
    DWORD l_dwExit = 1;
    if (l_dwWait == WAIT_TIMEOUT) TerminateProcess(l_hprocess, 1), WaitForSingleObject(l_hprocess, 10000);
    GetExitCodeProcess(l_hprocess, &l_dwExit);
    EXPECT_EQ(l_dwExit, 0u);
    CloseHandle(l_hprocess);
  }

  bool l_bComplete = false;
  const auto l_raw = OsTestReadLines(m_wsLog, &l_bComplete);
  EXPECT_TRUE(l_bComplete);
  std::set<std::string> l_childLines;
  std::size_t l_sizetChildLines = 0;
  for (const std::string& l_s : l_raw) {
    const OsTestLogLine l_line = OsTestParseLogLine(l_s);
    EXPECT_TRUE(l_line.m_bValid) << l_s;
    if (l_line.m_sModule != "os_coslog_child") continue;
    ++l_sizetChildLines;
    l_childLines.insert(l_line.m_sText);
  }
  EXPECT_EQ(l_sizetChildLines,
            static_cast<std::size_t>(OS_TEST_CHILDREN * OS_TEST_CHILD_THREADS * OS_TEST_CHILD_LINES));
  EXPECT_EQ(l_childLines.size(),
            static_cast<std::size_t>(OS_TEST_CHILDREN * OS_TEST_CHILD_THREADS * OS_TEST_CHILD_LINES));
  // Each process wrote its own header, and none emptied the file.
  EXPECT_EQ(OsTestFindLines(OsTestReadLog(m_wsLog), "### (").size(), static_cast<std::size_t>(OS_TEST_CHILDREN));
}

}  // namespace
