// Time records: the 17-digit text, exact millisecond differences across
// calendar boundaries, and the round trips through the runtime's time value.
#include <windows.h>

#include <cstring>

#include "os.h"
#include "os_costime.h"
#include "os_test.h"

namespace {

OsTimeRecord Record(int a_iYear, int a_iMonth, int a_iDay, int a_iHour, int a_iMinute, int a_iSecond, int a_iMs) {
  OsTimeRecord l_r = {};
  l_r.m_u16Year = static_cast<std::uint16_t>(a_iYear);
  l_r.m_u16Month = static_cast<std::uint16_t>(a_iMonth);
  l_r.m_u16Day = static_cast<std::uint16_t>(a_iDay);
  l_r.m_u16Hour = static_cast<std::uint16_t>(a_iHour);
  l_r.m_u16Minute = static_cast<std::uint16_t>(a_iMinute);
  l_r.m_u16Second = static_cast<std::uint16_t>(a_iSecond);
  l_r.m_u16Millisecond = static_cast<std::uint16_t>(a_iMs);
  return l_r;
}

TEST(OsTime, ToStringNeedsNineteenBytes) {
  const OsTimeRecord l_r = Record(2024, 3, 5, 7, 8, 9, 10);
  char l_sz[OS_TIME_STRING_SIZE];
  std::memset(l_sz, 'x', sizeof(l_sz));
  EXPECT_EQ(OsTimeToString(&l_r, l_sz, 19), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "20240305070809010");
  std::memset(l_sz, 'x', sizeof(l_sz));
  EXPECT_EQ(OsTimeToString(&l_r, l_sz, 18), OS_STS_FAIL);
  EXPECT_EQ(l_sz[0], 'x');  // refused before anything is written
  EXPECT_EQ(OsTimeToString(&l_r, nullptr, 19), OS_STS_FAIL);
  // A field out of its range is a failure, never an empty or widened stamp.
  char l_szWide[64];
  for (const OsTimeRecord& l_rBad :
       {Record(12024, 3, 5, 7, 8, 9, 10), Record(2024, 3, 5, 700, 8, 9, 10), Record(2024, 3, 5, 7, 8, 9, 1000)}) {
    EXPECT_EQ(OsTimeToString(&l_rBad, l_sz, 19), OS_STS_FAIL);
    EXPECT_EQ(OsTimeToString(&l_rBad, l_szWide, sizeof(l_szWide)), OS_STS_FAIL);
    EXPECT_STREQ(l_szWide, "");
  }
}

TEST(OsTime, CompareAcrossDayMonthAndYearBoundaries) {
  OsTimeRecord l_a = Record(2024, 3, 6, 0, 0, 1, 0);
  OsTimeRecord l_b = Record(2024, 3, 5, 23, 59, 59, 0);
  EXPECT_EQ(OsTimeCompare(&l_a, &l_b), 2000);
  EXPECT_EQ(OsTimeCompare(&l_b, &l_a), -2000);
  // Leap day: 28 Feb to 1 Mar 2024 is two days.
  l_a = Record(2024, 3, 1, 0, 0, 0, 0);
  l_b = Record(2024, 2, 28, 0, 0, 0, 0);
  EXPECT_EQ(OsTimeCompare(&l_a, &l_b), 2LL * 86400000);
  // Month and year boundary, with milliseconds on both sides.
  l_a = Record(2025, 1, 1, 0, 0, 0, 5);
  l_b = Record(2024, 12, 31, 23, 59, 59, 995);
  EXPECT_EQ(OsTimeCompare(&l_a, &l_b), 10);
  // A whole (leap) year.
  l_a = Record(2025, 1, 1, 0, 0, 0, 0);
  l_b = Record(2024, 1, 1, 0, 0, 0, 0);
  EXPECT_EQ(OsTimeCompare(&l_a, &l_b), 366LL * 86400000);
  // Same day: hours to milliseconds directly.
  l_a = Record(2024, 3, 5, 10, 0, 0, 250);
  l_b = Record(2024, 3, 5, 9, 59, 59, 750);
  EXPECT_EQ(OsTimeCompare(&l_a, &l_b), 500);
  EXPECT_EQ(OsTimeCompare(nullptr, &l_b), -1);
  EXPECT_EQ(OsTimeCompare(&l_a, nullptr), -1);
}

TEST(OsTime, TimeValueRoundTrips) {
  OsTimeRecord l_r = {};
  ASSERT_EQ(OsTimeFromTimeT(0, &l_r), OS_STS_SUCCESS);
  EXPECT_EQ(l_r.m_u16Year, 1970);
  EXPECT_EQ(l_r.m_u16Month, 1);
  EXPECT_EQ(l_r.m_u16Day, 1);
  EXPECT_EQ(l_r.m_u16DayOfWeek, 4);                              // a Thursday
  ASSERT_EQ(OsTimeFromTimeT(1709622489, &l_r), OS_STS_SUCCESS);  // 2024-03-05 07:08:09 UTC
  EXPECT_EQ(l_r.m_u16Year, 2024);
  EXPECT_EQ(l_r.m_u16Hour, 7);
  EXPECT_EQ(l_r.m_u16Second, 9);
  EXPECT_EQ(l_r.m_u16Millisecond, 0);
  EXPECT_EQ(OsTimeFromTimeT(0, nullptr), OS_STS_BADARG);

  // Local: the runtime's local record of a value converts back to it
  // (standard time of the test prefix's zone).
  OsTimeRecord l_local = {};
  ASSERT_EQ(OsTimeGetLocal(&l_local, 1709622489), OS_STS_SUCCESS);
  EXPECT_EQ(l_local.m_u16Millisecond, 0);
  std::int64_t l_ll = 0;
  ASSERT_EQ(OsTimeToTimeT(&l_local, &l_ll), OS_STS_SUCCESS);
  EXPECT_EQ(l_ll, 1709622489);
  EXPECT_EQ(OsTimeToTimeT(nullptr, &l_ll), OS_STS_BADARG);
  EXPECT_EQ(OsTimeToTimeT(&l_local, nullptr), OS_STS_BADARG);
}

TEST(OsTime, CurrentTimes) {
  EXPECT_EQ(OsTimeGetLocal(nullptr, 0), OS_STS_BADARG);
  EXPECT_EQ(OsTimeGetUtc(nullptr), OS_STS_BADARG);
  OsTimeRecord l_utc = {};
  ASSERT_EQ(OsTimeGetUtc(&l_utc), OS_STS_SUCCESS);
  SYSTEMTIME l_st;
  GetSystemTime(&l_st);
  EXPECT_EQ(l_utc.m_u16Year, l_st.wYear);
  // The record's time value and the runtime's clock agree within seconds.
  l_utc.m_u16DayOfWeek = 0;
  OsTimeRecord l_epoch = {};
  OsTimeFromTimeT(0, &l_epoch);
  const std::int64_t l_llSeconds = OsTimeCompare(&l_utc, &l_epoch) / 1000;
  EXPECT_LE(std::llabs(l_llSeconds - OsTimeNow()), 5);
  LARGE_INTEGER l_liFrequency, l_liStart, l_liEnd;
  QueryPerformanceFrequency(&l_liFrequency);
  QueryPerformanceCounter(&l_liStart);
  OsSleep(-5);  // returns at once
  QueryPerformanceCounter(&l_liEnd);
  EXPECT_LT((l_liEnd.QuadPart - l_liStart.QuadPart) * 1000 / l_liFrequency.QuadPart, 10);
  QueryPerformanceCounter(&l_liStart);
  OsSleep(30);
  QueryPerformanceCounter(&l_liEnd);
  EXPECT_GE((l_liEnd.QuadPart - l_liStart.QuadPart) * 1000 / l_liFrequency.QuadPart, 25);
}

}  // namespace
