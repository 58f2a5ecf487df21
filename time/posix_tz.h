#ifndef QUORVALE_TIME_POSIX_TZ_H_
#define QUORVALE_TIME_POSIX_TZ_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "errors/errors.h"

namespace quorvale::time {

// The local time in force at an instant: its offset east of UTC in
// seconds, whether it is daylight saving time, and its abbreviation.
struct ZoneOffset {
  std::int32_t utoff = 0;
  bool is_dst = false;
  std::string_view abbr = "UTC";
};

// PosixRule is a zone given as a POSIX TZ string, such as
// "EST5EDT,M3.2.0,M11.1.0" or "<+0330>-3:30": a standard time and, when
// given, a daylight saving time with the dates on which it starts and ends
// each year. Zone files carry one for the instants after their last
// transition.
//
// The forms read are those a zone file's footer may hold: names of three
// or more letters, or quoted in <> with letters, digits, '+' and '-';
// offsets [+-]hh[:mm[:ss]] up to 24 hours; start and end dates as Jn (1 to
// 365, 29 February never counted), n (0 to 365, 29 February counted) or
// Mm.w.d (day d of week w of month m, week 5 meaning the last), each with
// an optional /time of [+-]hhh[:mm[:ss]] within 167 hours either side of
// midnight (02:00:00 when left out). Daylight saving time without dates is
// not accepted: no default rule is assumed.
class PosixRule {
 public:
  struct Result;

  // Parse reads a whole TZ string; anything left over or out of range is
  // an error.
  static Result Parse(std::string_view tz);

  // Lookup gives the local time in force at `unix_seconds`; it is defined
  // for every int64 instant. The abbreviation points into this rule.
  ZoneOffset Lookup(std::int64_t unix_seconds) const;

  // True when the rule has daylight saving time.
  bool HasDst() const noexcept { return has_dst_; }

 private:
  // A start or end date of daylight saving time.
  struct Date {
    enum Kind : std::uint8_t { kJulian, kZeroBased, kMonthWeekDay };
    Kind kind = kJulian;
    int day = 0;    // kJulian: 1..365; kZeroBased: 0..365; else 0..6 (Sunday 0)
    int week = 0;   // kMonthWeekDay: 1..5
    int month = 0;  // kMonthWeekDay: 1..12
    std::int32_t time = 2 * 3600;  // seconds after the day's local midnight

    // Seconds from 1970-01-01 00:00 to this date's transition in `year`, on
    // the local clock that the transition leaves.
    std::int64_t LocalInstant(std::int64_t year) const;
  };

  // The transition in `year` for which `starts` is true when daylight
  // saving time begins; in UTC seconds.
  std::int64_t Transition(std::int64_t year, bool starts) const;

  friend class RuleParser;

  std::string std_abbr_;
  std::string dst_abbr_;
  std::int32_t std_utoff_ = 0;  // east of UTC, unlike the string's sign
  std::int32_t dst_utoff_ = 0;
  bool has_dst_ = false;
  Date start_;
  Date end_;
};

struct PosixRule::Result {
  PosixRule rule;
  Error err;
};

}  // namespace quorvale::time

#endif  // QUORVALE_TIME_POSIX_TZ_H_
