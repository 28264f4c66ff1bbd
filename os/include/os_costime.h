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
