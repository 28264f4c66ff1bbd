// The periodic timer: its refusals, a period counted from the end of one
// callback to the start of the next, the ends (by the callback, by a stop
// from the callback or from another thread, by an exception, by
// destruction), the log lines of its routine, and many rounds without a
// leaked handle.
#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "os.h"
#include "os_costime.h"
#include "os_costime_impl.h"
#include "os_test_services.h"

namespace {

class Timer : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"timer.log");
    s_iCalls = 0;
    s_iStopAt = 0;
    s_iInside = 0;
    s_iOverlaps = 0;
    s_iSleepMs = 0;
    s_u32Seen = 0;
    s_ticks.clear();
    s_postime = nullptr;
  }
  // True once the timer's thread has ended (within a_ullMs).
  static bool Ended(COsTime& a_ostime, ULONGLONG a_ullMs = 5000) {
    const ULONGLONG l_ullStart = GetTickCount64();
    while (a_ostime.TimerIsRunning() == 2) {
      if (GetTickCount64() - l_ullStart > a_ullMs) return false;
      Sleep(2);
    }
    return true;
  }
  std::size_t Count(const char* a_szText) { return Lines(a_szText).size(); }

  static inline std::atomic<int> s_iCalls{0};
  static inline int s_iStopAt = 0;  // the call that returns 1 (0: never)
  static inline std::atomic<int> s_iInside{0};
  static inline std::atomic<int> s_iOverlaps{0};
  static inline DWORD s_iSleepMs = 0;
  static inline std::uint32_t s_u32Seen = 0;
  static inline std::vector<ULONGLONG> s_ticks;  // start and end of every call
  static inline COsTime* s_postime = nullptr;    // stopped by the callback when set

  static std::uint32_t Callback(std::uint32_t a_u32Value) {
    if (s_iInside.fetch_add(1) != 0) ++s_iOverlaps;
    s_ticks.push_back(GetTickCount64());
    s_u32Seen = a_u32Value;
    if (s_iSleepMs != 0) Sleep(s_iSleepMs);
    const int l_iCall = ++s_iCalls;
    if (s_postime != nullptr) s_postime->TimerStop();
    s_ticks.push_back(GetTickCount64());
    --s_iInside;
    return s_iStopAt != 0 && l_iCall >= s_iStopAt ? 1 : 0;
  }
  static std::uint32_t Throw(std::uint32_t) { throw std::runtime_error("callback"); }
};

TEST_F(Timer, RefusesAPeriodOfZeroOrLessAndANullCallback) {
  COsTime l_ostime;
  struct Row {
    std::int32_t m_i32Period;
    OsTimerCallback m_callback;
    const char* m_szText;
  };
  const Row l_rows[] = {{0, Callback, "we don't timetravel, and we don't do a timer of 0..."},
                        {-5, Callback, "we don't timetravel, and we don't do a timer of 0..."},
                        {100, nullptr, "a_oscallbackTimer is null"}};
  for (const Row& l_row : l_rows) {
    EXPECT_EQ(l_ostime.TimerStart(l_row.m_i32Period, l_row.m_callback, 7), OS_STS_FAIL) << l_row.m_szText;
    EXPECT_EQ(l_ostime.TimerIsRunning(), 1);
    EXPECT_EQ(l_ostime.TimerPeriodGet(), 0);
  }
  const auto l_lines = Lines("we don't timetravel");
  ASSERT_EQ(l_lines.size(), 2u);
  EXPECT_EQ(l_lines[0].m_cMark, 'A');
  ASSERT_EQ(Count("a_oscallbackTimer is null"), 1u);
  EXPECT_EQ(Lines("a_oscallbackTimer is null")[0].m_cMark, 'A');
  EXPECT_EQ(l_ostime.TimerStop(), OS_STS_SUCCESS);  // nothing runs: nothing to stop
}

TEST_F(Timer, ACallbackThatReturnsOneOnItsFirstCallEndsTheTimerAfterOnePeriod) {
  COsTime l_ostime;
  s_iStopAt = 1;
  const ULONGLONG l_ullStart = GetTickCount64();
  ASSERT_EQ(l_ostime.TimerStart(300, Callback, 0x12345678u), OS_STS_SUCCESS);
  EXPECT_EQ(l_ostime.TimerIsRunning(), 2);
  EXPECT_EQ(l_ostime.TimerPeriodGet(), 300);
  EXPECT_EQ(l_ostime.TimerUserValueGet(), 0x12345678u);
  ASSERT_TRUE(Ended(l_ostime));
  EXPECT_EQ(s_iCalls, 1);
  EXPECT_EQ(s_u32Seen, 0x12345678u);
  ASSERT_EQ(s_ticks.size(), 2u);
  EXPECT_GE(s_ticks[0] - l_ullStart, 280u);  // one period (tick granularity allowed for)
  EXPECT_LT(s_ticks[0] - l_ullStart, 2000u);
  // The values are cleared on the way out.
  EXPECT_EQ(l_ostime.TimerPeriodGet(), 0);
  EXPECT_EQ(l_ostime.TimerUserValueGet(), 0u);
  EXPECT_EQ(Count("OsTimerProcStart started..."), 2u);  // at the entry and before the loop
  EXPECT_EQ(Count("OsTimerProcStart running callback..."), 1u);
  EXPECT_EQ(Count("OsTimerProcStart ended by callback..."), 1u);
  EXPECT_EQ(Count("OsTimerProcStart exiting..."), 0u);
}

TEST_F(Timer, ThePeriodRunsFromTheEndOfOneCallbackToTheStartOfTheNext) {
  COsTime l_ostime;
  s_iStopAt = 4;
  s_iSleepMs = 150;  // longer than the period: callbacks would overlap if ticks were fixed
  ASSERT_EQ(l_ostime.TimerStart(100, Callback, 3), OS_STS_SUCCESS);
  ASSERT_TRUE(Ended(l_ostime));
  EXPECT_EQ(s_iCalls, 4);
  EXPECT_EQ(s_iOverlaps, 0);
  ASSERT_EQ(s_ticks.size(), 8u);
  for (std::size_t l_i = 2; l_i < s_ticks.size(); l_i += 2) {
    EXPECT_GE(s_ticks[l_i] - s_ticks[l_i - 1], 85u) << l_i;         // a whole period after the end
    EXPECT_GE(s_ticks[l_i] - s_ticks[l_i - 2], 85u + 140u) << l_i;  // so start to start is both
  }
}

TEST_F(Timer, ASecondStartIsRefusedAndLeavesTheRunningTimerAlone) {
  COsTime l_ostime;
  ASSERT_EQ(l_ostime.TimerStart(10000, Callback, 1), OS_STS_SUCCESS);
  EXPECT_EQ(l_ostime.TimerStart(20, Callback, 2), OS_STS_FAIL);
  ASSERT_EQ(Count("There's already a timer started on this object..."), 1u);
  EXPECT_EQ(Lines("There's already a timer started on this object...")[0].m_cMark, 'E');
  EXPECT_EQ(l_ostime.TimerPeriodGet(), 10000);
  EXPECT_EQ(l_ostime.TimerUserValueGet(), 1u);
  EXPECT_EQ(l_ostime.TimerStop(), OS_STS_SUCCESS);
  ASSERT_TRUE(Ended(l_ostime));
  EXPECT_EQ(s_iCalls, 0);
}

DWORD WINAPI StopFromThread(void* a_pv) { return static_cast<DWORD>(static_cast<COsTime*>(a_pv)->TimerStop()); }

TEST_F(Timer, AStopFromAnotherThreadEndsTheWaitAtOnce) {
  COsTime l_ostime;
  ASSERT_EQ(l_ostime.TimerStart(20, Callback, 0), OS_STS_SUCCESS);
  while (s_iCalls < 3) Sleep(5);
  // From a thread of the test's own, during short periods...
  HANDLE const l_h = CreateThread(nullptr, 0, StopFromThread, &l_ostime, 0, nullptr);
  ASSERT_NE(l_h, nullptr);
  WaitForSingleObject(l_h, 5000);
  DWORD l_dwCode = 99;
  GetExitCodeThread(l_h, &l_dwCode);
  CloseHandle(l_h);
  EXPECT_EQ(l_dwCode, 0u);
  ASSERT_TRUE(Ended(l_ostime));
  const int l_iCalls = s_iCalls;
  Sleep(100);
  EXPECT_EQ(s_iCalls, l_iCalls);
  EXPECT_EQ(l_ostime.TimerPeriodGet(), 0);
  // ...and in a long one: the stop does not wait for the period.
  ASSERT_EQ(l_ostime.TimerStart(60000, Callback, 0), OS_STS_SUCCESS);
  const ULONGLONG l_ullStart = GetTickCount64();
  EXPECT_EQ(l_ostime.TimerStop(), OS_STS_SUCCESS);
  ASSERT_TRUE(Ended(l_ostime));
  EXPECT_LT(GetTickCount64() - l_ullStart, 1000u);
  EXPECT_EQ(Count("OsTimerProcStart exiting..."), 2u);
}

TEST_F(Timer, AStopFromItsOwnCallbackEndsTheTimerAfterThatCall) {
  COsTime l_ostime;
  s_postime = &l_ostime;
  ASSERT_EQ(l_ostime.TimerStart(20, Callback, 0), OS_STS_SUCCESS);
  ASSERT_TRUE(Ended(l_ostime));
  EXPECT_EQ(s_iCalls, 1);
  EXPECT_EQ(Count("OsTimerProcStart exiting..."), 1u);
  EXPECT_EQ(Count("OsTimerProcStart ended by callback..."), 0u);
}

TEST_F(Timer, AnExceptionInTheCallbackIsLoggedAndTheTimerCanStartAgain) {
  COsTime l_ostime;
  ASSERT_EQ(l_ostime.TimerStart(10, Throw, 5), OS_STS_SUCCESS);
  ASSERT_TRUE(Ended(l_ostime));
  ASSERT_EQ(Count("Exception in OsTimerProcStart..."), 1u);
  EXPECT_EQ(Lines("Exception in OsTimerProcStart...")[0].m_cMark, 'E');
  EXPECT_EQ(l_ostime.TimerPeriodGet(), 10);  // left as it was running
  s_iStopAt = 1;
  ASSERT_EQ(l_ostime.TimerStart(10, Callback, 6), OS_STS_SUCCESS);
  ASSERT_TRUE(Ended(l_ostime));
  EXPECT_EQ(s_iCalls, 1);
}

TEST_F(Timer, DestructionStopsARunningTimer) {
  const ULONGLONG l_ullStart = GetTickCount64();
  {
    COsTime l_ostime;
    ASSERT_EQ(l_ostime.TimerStart(60000, Callback, 0), OS_STS_SUCCESS);
  }
  EXPECT_LT(GetTickCount64() - l_ullStart, 2000u);
  EXPECT_EQ(Count("OsTimerProcStart exiting..."), 1u);
  EXPECT_EQ(s_iCalls, 0);
}

TEST_F(Timer, ARoutineWithoutItsTimerEndsAtOnce) {
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Start("Timer", OsTimerProcStart, nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.WaitForExit(5000), OS_STS_SUCCESS);
  ASSERT_EQ(Count("a_pvArg is NULL..."), 1u);
}

TEST_F(Timer, AHundredStartsAndStopsLeaveNoHandle) {
  {
    COsTime l_ostimeWarm;  // the first start's one-time allocations
    ASSERT_EQ(l_ostimeWarm.TimerStart(1, Callback, 0), OS_STS_SUCCESS);
  }
  DWORD l_dwBefore = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &l_dwBefore));
  {
    COsTime l_ostime;
    for (int l_i = 0; l_i < 100; ++l_i) {
      ASSERT_EQ(l_ostime.TimerStart(1 + l_i % 3, Callback, static_cast<std::uint32_t>(l_i)), OS_STS_SUCCESS) << l_i;
      if (l_i % 2 == 0) Sleep(3);  // some rounds stop during a callback or a wait, some at once
      ASSERT_EQ(l_ostime.TimerStop(), OS_STS_SUCCESS);
      ASSERT_TRUE(Ended(l_ostime)) << l_i;
    }
  }
  DWORD l_dwAfter = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &l_dwAfter));
  EXPECT_EQ(l_dwAfter, l_dwBefore);
  EXPECT_EQ(s_iOverlaps, 0);
}

}  // namespace
