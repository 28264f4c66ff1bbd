// Time records: the calendar record of the library, its 17-digit text form,
// millisecond differences and conversions to and from the C runtime's
// 64-bit time value (seconds since 1 January 1970 UTC).
#pragma once

#include <cstdint>

#include "os_sts.h"

// The system time layout: year (four digits), month (1 to 12), day of week
// (0 Sunday), day (1 to 31), hour, minute, second, millisecond.
struct OsTimeRecord {
  std::uint16_t m_u16Year;
  std::uint16_t m_u16Month;
  std::uint16_t m_u16DayOfWeek;
  std::uint16_t m_u16Day;
  std::uint16_t m_u16Hour;
  std::uint16_t m_u16Minute;
  std::uint16_t m_u16Second;
  std::uint16_t m_u16Millisecond;
};

// The digits of OsTimeToString and the buffer it needs (terminator and one
// spare byte included).
constexpr int OS_TIME_STRING_DIGITS = 17;
constexpr int OS_TIME_STRING_SIZE = 19;

// A_llTime 0: the current local time with milliseconds. Otherwise that time
// value in local time, millisecond 0 (1 when the runtime refuses it). 3 for
// a null record.
EOSSTS OsTimeGetLocal(OsTimeRecord* a_ptimerecord, std::int64_t a_llTime);
// The current UTC time with milliseconds; 3 for a null record.
EOSSTS OsTimeGetUtc(OsTimeRecord* a_ptimerecord);
// The current time value.
std::int64_t OsTimeNow();
// Sleeps for a_lMilliseconds when it is 0 or more; a negative value returns at once.
void OsSleep(long a_lMilliseconds);
// "YYYYMMDDhhmmssmmm" (17 digits, no day of week) into a_szTime, which is
// zeroed first. a_lTimeSize must exceed 18 (1 otherwise, as for a null text).
EOSSTS OsTimeToString(const OsTimeRecord* a_ptimerecord, char* a_szTime, long a_lTimeSize);
// Milliseconds of a_ptimerecordLhs minus a_ptimerecordRhs, exact across day,
// month and year boundaries; -1 for a null argument.
std::int64_t OsTimeCompare(const OsTimeRecord* a_ptimerecordLhs, const OsTimeRecord* a_ptimerecordRhs);
// The record taken as local standard time (milliseconds and day of week
// ignored) as a time value; 1 when the runtime cannot convert it, 3 for nulls.
EOSSTS OsTimeToTimeT(const OsTimeRecord* a_ptimerecord, std::int64_t* a_pllTime);
// The time value as a UTC record, millisecond 0; 1 when the runtime refuses it.
EOSSTS OsTimeFromTimeT(std::int64_t a_llTime, OsTimeRecord* a_ptimerecord);

// The whole-second offset at the end of the time tool's output, added to the
// current UTC time: a_ptimerecord receives that UTC moment, millisecond 0.
// The text must end (after tabs, line feeds, carriage returns and spaces) in
// "<sign><digits>.<fraction>s", the sign being '+', '-' or a space; the
// fraction is dropped ("+00.0123456s" is 0, "-12.5s" is -12). 3 for a null
// or empty text or a null record, 1 when the text has not that form or the
// sum is out of the runtime's range. The record is written only on success.
EOSSTS OsTimeParseOffset(const char* a_szText, OsTimeRecord* a_ptimerecord);
// The network time as a UTC record, millisecond 0: the system's time tool
// measures the offset of this clock against a_szServer (null or empty: the
// host part of the time service's configured NtpServer, before its first
// comma) after the ping item of the configuration reached it. The tool's
// output goes to "gnt.txt" in the log directory, which is removed again on
// every path. Each child is waited for at most a minute and ended after it.
// The record is zeroed first: 0, 1 on any failure (logged), 3 for a null record.
EOSSTS OsTimeGetNetwork(OsTimeRecord* a_ptimerecord, const char* a_szServer);

// ---- the periodic timer ----

class COsTimeImpl;

// The timer's callback: receives the user value; a non-zero result ends the timer.
typedef std::uint32_t (*OsTimerCallback)(std::uint32_t a_u32UserValue);

// A periodic timer on a thread of its own ("Timer"). The period runs from
// the end of one callback to the start of the next: callbacks never overlap
// and a slow callback delays the next tick. The timer runs until the
// callback returns non-zero, TimerStop, or destruction (which stops it,
// waiting up to 70000 ms); it can then be started again.
class COsTime {
 public:
  COsTime();
  ~COsTime();
  COsTime(const COsTime&) = delete;
  COsTime& operator=(const COsTime&) = delete;

  // Starts the timer: 0; 1 for a period of 0 or less, a null callback, a
  // timer of this object that still runs (nothing stored then) or a thread
  // that cannot be started.
  EOSSTS TimerStart(std::int32_t a_i32PeriodMs, OsTimerCallback a_oscallbackTimer, std::uint32_t a_u32UserValue);
  // Asks the timer to end and wakes it; returns 0 at once, without waiting
  // (also from the callback itself). A callback under way is completed.
  EOSSTS TimerStop();
  // 2 while the timer's thread has not ended, else 1.
  int TimerIsRunning();
  // The stored period and user value (0 once the timer has ended by itself,
  // by its callback or by a stop).
  std::int32_t TimerPeriodGet();
  std::uint32_t TimerUserValueGet();

  COsTimeImpl* m_postimeimpl;
};
