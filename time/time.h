#ifndef QUORVALE_TIME_TIME_H_
#define QUORVALE_TIME_TIME_H_

#include <cstdint>

namespace quorvale::time {

// Time is an instant: whole seconds since 1970-01-01 00:00:00 UTC (negative
// before it, leap seconds not counted) plus a fraction in nanoseconds,
// always in [0, 1e9). An instant half a second before the epoch is
// {-1, 500000000}.
struct Time {
  std::int64_t sec = 0;
  std::int32_t nsec = 0;
};

// Now reads the system's real-time clock.
Time Now();

// A date and a time of day in the proleptic Gregorian calendar, as read off
// a clock that counts days of exactly 86400 seconds. Year 0 is 1 BC.
struct Civil {
  std::int64_t year = 1970;
  int month = 1;   // 1..12
  int day = 1;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..59
};

// CivilFromSeconds gives the calendar reading of the instant `seconds`
// after 1970-01-01 00:00:00 UTC on a clock `utoff` seconds ahead of UTC.
// Every int64 instant has one; nothing overflows.
//
//   CivilFromSeconds(t.sec, zone.Lookup(t.sec).utoff)
Civil CivilFromSeconds(std::int64_t seconds, std::int32_t utoff = 0);

// DaysFromCivil counts the days from 1970-01-01 to the given date (negative
// before it). Month and day out of their ranges are not normalised; callers
// give valid dates, with |year| below 2^40.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day);

// IsLeapYear is true for the years that have a 29 February.
constexpr bool IsLeapYear(std::int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// FloorDiv and FloorMod divide rounding towards negative infinity, so that
// FloorMod(a, b) is in [0, b) for b > 0.
constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
constexpr std::int64_t FloorMod(std::int64_t a, std::int64_t b) {
  std::int64_t r = a % b;
  return (r != 0 && (r < 0) != (b < 0)) ? r + b : r;
}

inline constexpr std::int64_t kSecondsPerDay = 86400;

}  // namespace quorvale::time

#endif  // QUORVALE_TIME_TIME_H_
