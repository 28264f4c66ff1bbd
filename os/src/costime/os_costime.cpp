// Time records: current time, text form, differences and conversions to and
// from the C runtime's time value.
#include "os_costime.h"

#include <atomic>
#include <cstring>
#include <ctime>

#include "os_costime_impl.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_win.h"

namespace {

// The record OsTimeFixLocal made the current local time, while s_bFixed.
std::atomic<bool> s_bFixed{false};
OsTimeRecord s_ostimerecordFixed;

constexpr long long OS_TIME_FILETIME_PER_MS = 10000;  // 100-ns units in a millisecond

void RecordFromTm(const struct tm& a_tm, OsTimeRecord* a_ptimerecord) {
  a_ptimerecord->m_u16Year = static_cast<std::uint16_t>(a_tm.tm_year + 1900);
  a_ptimerecord->m_u16Month = static_cast<std::uint16_t>(a_tm.tm_mon + 1);
  a_ptimerecord->m_u16DayOfWeek = static_cast<std::uint16_t>(a_tm.tm_wday);
  a_ptimerecord->m_u16Day = static_cast<std::uint16_t>(a_tm.tm_mday);
  a_ptimerecord->m_u16Hour = static_cast<std::uint16_t>(a_tm.tm_hour);
  a_ptimerecord->m_u16Minute = static_cast<std::uint16_t>(a_tm.tm_min);
  a_ptimerecord->m_u16Second = static_cast<std::uint16_t>(a_tm.tm_sec);
  a_ptimerecord->m_u16Millisecond = 0;
}

// OsTimeRecord has the SYSTEMTIME layout field for field.
static_assert(sizeof(OsTimeRecord) == sizeof(SYSTEMTIME), "OsTimeRecord is the system time layout");

void RecordFromSystemTime(const SYSTEMTIME& a_systemtime, OsTimeRecord* a_ptimerecord) {
  std::memcpy(a_ptimerecord, &a_systemtime, sizeof(*a_ptimerecord));
}

bool FileTimeFromRecord(const OsTimeRecord* a_ptimerecord, long long* a_pllFileTime) {
  SYSTEMTIME l_systemtime;
  std::memcpy(&l_systemtime, a_ptimerecord, sizeof(l_systemtime));
  FILETIME l_filetime;
  if (!SystemTimeToFileTime(&l_systemtime, &l_filetime)) return false;
  *a_pllFileTime = static_cast<long long>((static_cast<unsigned long long>(l_filetime.dwHighDateTime) << 32) |
                                          l_filetime.dwLowDateTime);
  return true;
}

long long MillisecondsOfDay(const OsTimeRecord* a_ptimerecord) {
  return ((static_cast<long long>(a_ptimerecord->m_u16Hour) * 60 + a_ptimerecord->m_u16Minute) * 60 +
          a_ptimerecord->m_u16Second) *
             1000 +
         a_ptimerecord->m_u16Millisecond;
}

}  // namespace

EOSSTS OsTimeGetLocal(OsTimeRecord* a_ptimerecord, std::int64_t a_llTime) {
  OS_RETURN_IF_NULL(a_ptimerecord, OS_LOG_ERROR, "a_ptimerecord is NULL...", OS_STS_BADARG);
  if (a_llTime == 0 && s_bFixed.load()) {
    *a_ptimerecord = s_ostimerecordFixed;
    return OS_STS_SUCCESS;
  }
  if (a_llTime == 0) {
    SYSTEMTIME l_systemtime;
    GetLocalTime(&l_systemtime);
    RecordFromSystemTime(l_systemtime, a_ptimerecord);
    return OS_STS_SUCCESS;
  }
  const __time64_t l_time = a_llTime;
  const struct tm* const l_ptm = _localtime64(&l_time);
  OS_RETURN_IF_NULL(l_ptm, OS_LOG_ERROR, "localtime failed...", OS_STS_FAIL);
  RecordFromTm(*l_ptm, a_ptimerecord);
  return OS_STS_SUCCESS;
}

void OsTimeFixLocal(const OsTimeRecord* a_ptimerecord) {
  s_bFixed.store(false);
  if (a_ptimerecord == nullptr) return;
  s_ostimerecordFixed = *a_ptimerecord;
  s_bFixed.store(true);
}

EOSSTS OsTimeGetUtc(OsTimeRecord* a_ptimerecord) {
  OS_RETURN_IF_NULL(a_ptimerecord, OS_LOG_ERROR, "a_ptimerecord is NULL...", OS_STS_BADARG);
  SYSTEMTIME l_systemtime;
  GetSystemTime(&l_systemtime);
  RecordFromSystemTime(l_systemtime, a_ptimerecord);
  return OS_STS_SUCCESS;
}

std::int64_t OsTimeNow() { return _time64(nullptr); }

void OsSleep(long a_lMilliseconds) {
  if (a_lMilliseconds >= 0) Sleep(static_cast<DWORD>(a_lMilliseconds));
}

EOSSTS OsTimeToString(const OsTimeRecord* a_ptimerecord, char* a_szTime, long a_lTimeSize) {
  OS_RETURN_IF_NULL(a_szTime, OS_LOG_ASSERT, "a_szTime is null...", OS_STS_FAIL);
  OS_RETURN_IF(a_lTimeSize <= OS_TIME_STRING_SIZE - 1, OS_LOG_ASSERT, "a_lTimeSize must be at least 18...%d",
               OS_STS_FAIL, static_cast<int>(a_lTimeSize));
  std::memset(a_szTime, 0, static_cast<std::size_t>(a_lTimeSize));
  OS_RETURN_IF_NULL(a_ptimerecord, OS_LOG_ASSERT, "a_ptimerecord is NULL...", OS_STS_FAIL);
  // Formatted apart first: every field fits its place in a stamp of 17
  // digits, or there is no stamp (and no line either: the log names its own
  // files with this, holding its lock). Five digits at most a field: it fits.
  char l_szStamp[64];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
  const int l_iLength =
      SStrPrintf(l_szStamp, sizeof(l_szStamp), "%0.4d%0.2d%0.2d%0.2d%0.2d%0.2d%0.3d", a_ptimerecord->m_u16Year,
                 a_ptimerecord->m_u16Month, a_ptimerecord->m_u16Day, a_ptimerecord->m_u16Hour,
                 a_ptimerecord->m_u16Minute, a_ptimerecord->m_u16Second, a_ptimerecord->m_u16Millisecond);
#pragma GCC diagnostic pop
  if (l_iLength != OS_TIME_STRING_SIZE - 2) return OS_STS_FAIL;
  std::memcpy(a_szTime, l_szStamp, OS_TIME_STRING_SIZE - 1);
  return OS_STS_SUCCESS;
}

std::int64_t OsTimeCompare(const OsTimeRecord* a_ptimerecordLhs, const OsTimeRecord* a_ptimerecordRhs) {
  OS_RETURN_IF(a_ptimerecordLhs == nullptr || a_ptimerecordRhs == nullptr, OS_LOG_ASSERT, "argument is null...", -1);
  if (a_ptimerecordLhs->m_u16Year == a_ptimerecordRhs->m_u16Year &&
      a_ptimerecordLhs->m_u16Month == a_ptimerecordRhs->m_u16Month &&
      a_ptimerecordLhs->m_u16Day == a_ptimerecordRhs->m_u16Day)
    return MillisecondsOfDay(a_ptimerecordLhs) - MillisecondsOfDay(a_ptimerecordRhs);
  // Across a day boundary the calendar decides (month lengths, leap years):
  // the system's file times count it exactly.
  long long l_llLhs = 0;
  long long l_llRhs = 0;
  if (!FileTimeFromRecord(a_ptimerecordLhs, &l_llLhs) || !FileTimeFromRecord(a_ptimerecordRhs, &l_llRhs)) {
    const DWORD l_dwError = GetLastError();
    OS_LOGA("SystemTimeToFileTime failed...%d", static_cast<int>(l_dwError));
    return -1;
  }
  return (l_llLhs - l_llRhs) / OS_TIME_FILETIME_PER_MS;
}

EOSSTS OsTimeToTimeT(const OsTimeRecord* a_ptimerecord, std::int64_t* a_pllTime) {
  OS_RETURN_IF(a_ptimerecord == nullptr || a_pllTime == nullptr, OS_LOG_ERROR, "a_ptimerecord or a_ptimet are NULL...",
               OS_STS_BADARG);
  struct tm l_tm;
  std::memset(&l_tm, 0, sizeof(l_tm));
  l_tm.tm_year = a_ptimerecord->m_u16Year - 1900;
  l_tm.tm_mon = a_ptimerecord->m_u16Month - 1;
  l_tm.tm_mday = a_ptimerecord->m_u16Day;
  l_tm.tm_hour = a_ptimerecord->m_u16Hour;
  l_tm.tm_min = a_ptimerecord->m_u16Minute;
  l_tm.tm_sec = a_ptimerecord->m_u16Second;
  l_tm.tm_isdst = 0;
  __time64_t l_time = _mktime64(&l_tm);
  if (l_time == -1) return OS_STS_FAIL;
  // The caller's clock reads standard time all year: for a moment the
  // runtime places in daylight saving time, the hour it adds comes off.
  if (l_tm.tm_isdst > 0) l_time -= 3600;
  *a_pllTime = l_time;
  return OS_STS_SUCCESS;
}

EOSSTS OsTimeFromTimeT(std::int64_t a_llTime, OsTimeRecord* a_ptimerecord) {
  OS_RETURN_IF_NULL(a_ptimerecord, OS_LOG_ERROR, "a_ptimerecord is NULL...", OS_STS_BADARG);
  const __time64_t l_time = a_llTime;
  const struct tm* const l_ptm = _gmtime64(&l_time);
  if (l_ptm == nullptr) return OS_STS_FAIL;
  RecordFromTm(*l_ptm, a_ptimerecord);
  return OS_STS_SUCCESS;
}
