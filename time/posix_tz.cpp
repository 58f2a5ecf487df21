#include "time/posix_tz.h"

#include <cstddef>

#include "time/time.h"

namespace quorvale::time {

// RuleParser walks a TZ string once, front to back; each Read* consumes
// what it accepts and reports false, having consumed an unknown amount, on
// anything it does not.
class RuleParser {
 public:
  explicit RuleParser(std::string_view s) : s_(s) {}

  bool ReadRule(PosixRule& r) {
    if (!ReadName(r.std_abbr_) || !ReadOffset(r.std_utoff_)) return false;
    if (AtEnd()) return true;
    r.has_dst_ = true;
    if (!ReadName(r.dst_abbr_)) return false;
    r.dst_utoff_ = r.std_utoff_ + 3600;
    if (!AtEnd() && s_[pos_] != ',' && !ReadOffset(r.dst_utoff_)) return false;
    return Eat(',') && ReadDate(r.start_) && Eat(',') && ReadDate(r.end_) &&
           AtEnd();
  }

 private:
  bool AtEnd() const { return pos_ == s_.size(); }
  bool Peek(char c) const { return !AtEnd() && s_[pos_] == c; }
  bool Eat(char c) {
    if (!Peek(c)) return false;
    ++pos_;
    return true;
  }

  // Reads up to max_digits decimal digits, at least one.
  bool ReadNumber(int max_digits, int& out) {
    int n = 0, digits = 0;
    while (!AtEnd() && digits < max_digits && s_[pos_] >= '0' &&
           s_[pos_] <= '9') {
      n = n * 10 + (s_[pos_++] - '0');
      ++digits;
    }
    out = n;
    return digits > 0;
  }

  bool ReadName(std::string& out) {
    const std::size_t begin = pos_;
    if (Eat('<')) {
      while (!AtEnd() && IsQuotedNameChar(s_[pos_])) ++pos_;
      out.assign(s_.substr(begin + 1, pos_ - begin - 1));
      return Eat('>') && out.size() >= 3;
    }
    while (!AtEnd() && IsLetter(s_[pos_])) ++pos_;
    out.assign(s_.substr(begin, pos_ - begin));
    return out.size() >= 3;
  }

  // [+-]h[h...][:mm[:ss]] as seconds, with at most max_hours hours.
  bool ReadClock(int hour_digits, int max_hours, std::int32_t& out) {
    bool negative = false;
    if (Eat('-')) {
      negative = true;
    } else {
      Eat('+');
    }
    int h = 0, m = 0, sec = 0;
    if (!ReadNumber(hour_digits, h) || h > max_hours) return false;
    if (Eat(':')) {
      if (!ReadNumber(2, m) || m > 59) return false;
      if (Eat(':') && (!ReadNumber(2, sec) || sec > 59)) return false;
    }
    const std::int32_t value = h * 3600 + m * 60 + sec;
    out = negative ? -value : value;
    return true;
  }

  // The string counts hours west of Greenwich; the rule keeps east.
  bool ReadOffset(std::int32_t& utoff) {
    std::int32_t west = 0;
    if (!ReadClock(2, 24, west)) return false;
    utoff = -west;
    return true;
  }

  bool ReadDate(PosixRule::Date& d) {
    using Date = PosixRule::Date;
    if (Eat('J')) {
      d.kind = Date::kJulian;
      if (!ReadNumber(3, d.day) || d.day < 1 || d.day > 365) return false;
    } else if (Eat('M')) {
      d.kind = Date::kMonthWeekDay;
      if (!ReadNumber(2, d.month) || d.month < 1 || d.month > 12) return false;
      if (!Eat('.') || !ReadNumber(1, d.week) || d.week < 1 || d.week > 5) {
        return false;
      }
      if (!Eat('.') || !ReadNumber(1, d.day) || d.day > 6) return false;
    } else {
      d.kind = Date::kZeroBased;
      if (!ReadNumber(3, d.day) || d.day > 365) return false;
    }
    d.time = 2 * 3600;
    return !Eat('/') || ReadClock(3, 167, d.time);
  }

  static bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  }
  static bool IsQuotedNameChar(char c) {
    return IsLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-';
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

PosixRule::Result PosixRule::Parse(std::string_view tz) {
  Result r;
  if (!RuleParser(tz).ReadRule(r.rule)) {
    r.rule = PosixRule();
    r.err = Error("bad TZ rule");
  }
  return r;
}

std::int64_t PosixRule::Date::LocalInstant(std::int64_t year) const {
  const std::int64_t jan1 = DaysFromCivil(year, 1, 1);
  std::int64_t days = 0;
  switch (kind) {
    case kJulian:
      days = jan1 + day - 1 + (IsLeapYear(year) && day >= 60 ? 1 : 0);
      break;
    case kZeroBased:
      days = jan1 + day;
      break;
    case kMonthWeekDay: {
      static constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30,
                                             31, 31, 30, 31, 30, 31};
      const int length =
          kMonthDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
      const std::int64_t first = DaysFromCivil(year, month, 1);
      const int first_weekday = static_cast<int>(FloorMod(first + 4, 7));
      int mday = 1 + static_cast<int>(FloorMod(day - first_weekday, 7)) +
                 (week - 1) * 7;
      if (mday > length) mday -= 7;
      days = first + mday - 1;
      break;
    }
  }
  return days * kSecondsPerDay + time;
}

std::int64_t PosixRule::Transition(std::int64_t year, bool starts) const {
  // A start is given on the standard clock, an end on the daylight one.
  return starts ? start_.LocalInstant(year) - std_utoff_
                : end_.LocalInstant(year) - dst_utoff_;
}

ZoneOffset PosixRule::Lookup(std::int64_t unix_seconds) const {
  if (!has_dst_) return {std_utoff_, false, std_abbr_};

  // The calendar, weekdays included, repeats every 400 years, so any
  // instant is looked up as its counterpart in 1970..2369, where nothing
  // overflows.
  constexpr std::int64_t kCycle = 146097 * kSecondsPerDay;
  std::int64_t t = unix_seconds % kCycle;
  if (t < 0) t += kCycle;
  const std::int64_t year = CivilFromSeconds(t).year;

  // The latest transition at or before t decides. Transitions may stray up
  // to about a week into a neighbouring year, so two years back always hold
  // one. When a start and an end fall on the same instant (daylight saving
  // time all year), the start wins.
  bool found = false, dst = false;
  std::int64_t latest = 0;
  for (std::int64_t y = year - 2; y <= year + 1; ++y) {
    for (bool starts : {false, true}) {
      const std::int64_t at = Transition(y, starts);
      if (at <= t && (!found || at > latest || (at == latest && starts))) {
        found = true;
        latest = at;
        dst = starts;
      }
    }
  }
  return dst ? ZoneOffset{dst_utoff_, true, dst_abbr_}
             : ZoneOffset{std_utoff_, false, std_abbr_};
}

}  // namespace quorvale::time
