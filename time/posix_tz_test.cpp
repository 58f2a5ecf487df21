#include "time/posix_tz.h"

#include <stdlib.h>
#include <time.h>

#include <cctype>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "time/time.h"

namespace quorvale::time {
namespace {

TEST(PosixRuleParseTest, RefusesWhatIsNoWholeRule) {
  for (const char* tz : {
           "",
           "EST",                          // no offset
           "ES5",                          // name too short
           "<E>5",                         // quoted name too short
           "<EST5",                        // unclosed quote
           "<E T>5",                       // blank in a quoted name
           "E5T5",                         // digit in a plain name
           "EST+",                         // sign without hours
           "EST25",                        // offset beyond 24 hours
           "EST5:60",                      // minutes beyond 59
           "EST5:30:60",                   // seconds beyond 59
           "EST5 ",                        // trailing blank
           "<+03>-3junk",                  // trailing text
           "EST5EDT",                      // daylight time without dates
           "EST5EDT,",                     //
           "EST5EDT,M3.2.0",               // no end
           "EST5EDT,M3.2.0,",              //
           "EST5EDT,M3.2.0,M11.1.0,",      //
           "EST5EDT,M3.2.0,M11.1.0x",      //
           "EST5EDT,M0.2.0,M11.1.0",       // month 0
           "EST5EDT,M13.2.0,M11.1.0",      // month 13
           "EST5EDT,M3.0.0,M11.1.0",       // week 0
           "EST5EDT,M3.6.0,M11.1.0",       // week 6
           "EST5EDT,M3.2.7,M11.1.0",       // weekday 7
           "EST5EDT,M3.2,M11.1.0",         // weekday missing
           "EST5EDT,J0,J365",              // J counts from 1
           "EST5EDT,J1,J366",              //
           "EST5EDT,0,366",                // n counts up to 365
           "EST5EDT,M3.2.0/168,M11.1.0",   // time beyond 167 hours
           "EST5EDT,M3.2.0/-168,M11.1.0",  //
           "EST5EDT,M3.2.0/,M11.1.0",      // slash without time
           "EST5EDT,M3.2.0/2:5x,M11.1.0",  //
       }) {
    PosixRule::Result r = PosixRule::Parse(tz);
    EXPECT_TRUE(r.err) << '"' << tz << '"';
  }
}

TEST(PosixRuleParseTest, ReadsNamesAndOffsets) {
  struct Case {
    const char* tz;
    std::int32_t std_utoff;
    const char* std_abbr;
  } cases[] = {
      {"JST-9", 9 * 3600, "JST"},
      {"<+0330>-3:30", 3 * 3600 + 1800, "+0330"},
      {"<-00>0", 0, "-00"},
      {"ABC+1:02:03", -3723, "ABC"},
      {"<UTC-14>-14", 14 * 3600, "UTC-14"},
      {"XYZ24", -24 * 3600, "XYZ"},
  };
  for (const Case& c : cases) {
    PosixRule::Result r = PosixRule::Parse(c.tz);
    ASSERT_FALSE(r.err) << c.tz;
    EXPECT_FALSE(r.rule.HasDst());
    for (std::int64_t t :
         {std::int64_t{0}, std::numeric_limits<std::int64_t>::min(),
          std::numeric_limits<std::int64_t>::max()}) {
      ZoneOffset o = r.rule.Lookup(t);
      EXPECT_EQ(o.utoff, c.std_utoff) << c.tz;
      EXPECT_EQ(o.abbr, c.std_abbr) << c.tz;
      EXPECT_FALSE(o.is_dst);
    }
  }
}

// The local time the C library computes for TZ set to the same rule.
struct CTime {
  long utoff;
  bool is_dst;
  std::string abbr;
  bool operator==(const CTime&) const = default;
};

std::ostream& operator<<(std::ostream& os, const CTime& c) {
  return os << c.utoff << (c.is_dst ? " dst " : " std ") << c.abbr;
}

CTime CLocal(std::int64_t t) {
  const time_t tt = static_cast<time_t>(t);
  struct tm tm;
  EXPECT_NE(::localtime_r(&tt, &tm), nullptr) << t;
  return {tm.tm_gmtoff, tm.tm_isdst > 0, tm.tm_zone};
}

CTime Ours(const PosixRule& rule, std::int64_t t) {
  ZoneOffset o = rule.Lookup(t);
  return {o.utoff, o.is_dst, std::string(o.abbr)};
}

// The first instant in (lo, hi] at which f differs from f(lo).
template <typename F>
std::int64_t FirstChange(F f, std::int64_t lo, std::int64_t hi) {
  const auto at_lo = f(lo);
  while (hi - lo > 1) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    if (f(mid) == at_lo) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return hi;
}

class PosixRuleAgainstCLibraryTest
    : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_EQ(::setenv("TZ", GetParam(), 1), 0);
    ::tzset();
  }
  void TearDown() override {
    ::unsetenv("TZ");
    ::tzset();
  }
};

// Hour by hour over the given years, and to the second at every change.
// The C library applies a rule to no year before 1970 (it keeps standard
// time there), so the comparison starts in 1971.
TEST_P(PosixRuleAgainstCLibraryTest, SameLocalTimeAndSameTransitions) {
  PosixRule::Result r = PosixRule::Parse(GetParam());
  ASSERT_FALSE(r.err) << r.err.Text();
  const PosixRule& rule = r.rule;
  auto ours = [&rule](std::int64_t t) { return Ours(rule, t); };
  for (auto [from, to] : {std::pair{1971, 2045}, {2095, 2105}, {9998, 10001}}) {
    const std::int64_t begin = DaysFromCivil(from, 1, 1) * kSecondsPerDay;
    const std::int64_t end = DaysFromCivil(to, 1, 1) * kSecondsPerDay;
    CTime prev = CLocal(begin);
    ASSERT_EQ(ours(begin), prev) << begin;
    for (std::int64_t t = begin + 3600; t <= end; t += 3600) {
      const CTime now = CLocal(t);
      ASSERT_EQ(ours(t), now) << t;
      if (now == prev) continue;
      const std::int64_t want = FirstChange(CLocal, t - 3600, t);
      ASSERT_EQ(FirstChange(ours, t - 3600, t), want) << "near " << t;
      prev = now;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PosixRuleAgainstCLibraryTest,
    ::testing::Values(
        "EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3",
        "AEST-10AEDT,M10.1.0,M4.1.0/3",     // south: spans the new year
        "IST-1GMT0,M10.5.0,M3.5.0/1",       // negative daylight saving
        "<-02>2<-01>,M3.5.0/-1,M10.5.0/0",  // negative transition time
        "IST-2IDT,M3.4.4/26,M10.5.0",       // beyond 24 hours
        "EET-2EEST,M3.4.4/50,M10.4.4/50",   //
        "<-04>4<-03>,M9.1.6/24,M4.1.6/24",  //
        "<+1245>-12:45<+1345>,M9.5.0/2:45,M4.1.0/3:45",
        "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0",   // half an hour of saving
        "ABC5DEF,J60,J300/1:30",                  // Julian days
        "ABC5DEF,59,300",                         // zero-based days
        "ABC-3DEF-5:30,M3.1.0/-167,M10.5.0/167",  // the widest times
        "JST-9"),
    [](const auto& info) {
      std::string name;
      for (const char* p = info.param; *p != '\0'; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      }
      return name + "_" + std::to_string(info.index);
    });

// Where the C library cannot serve as the reference: it keeps standard time
// in every year before 1970, and decides by the UTC year, so that daylight
// saving time all year has a gap of hours at each new year west of UTC.
TEST(PosixRuleLookupTest, KnownInstants) {
  struct Case {
    const char* tz;
    std::int64_t t;
    const char* abbr;
  } cases[] = {
      {"EST5EDT,M3.2.0,M11.1.0", -140000000, "EDT"},    // July 1965
      {"EST5EDT,M3.2.0,M11.1.0", -151520401, "EST"},    // 1965-03-14 01:59:59
      {"EST5EDT,M3.2.0,M11.1.0", -151520400, "EDT"},    // 03:00:00 EDT
      {"EST5EDT,M3.2.0,M11.1.0", -62135596800, "EST"},  // year 1
      {"EST5EDT,M3.2.0,M11.1.0", 253402300800 + 200L * 86400, "EDT"},  // 10000
      // Daylight saving time all year: the end of one year's meets the start
      // of the next.
      {"EST5EDT,0/0,J365/25", 31536000 - 1, "EDT"},  // 1970-12-31 18:59:59
      {"EST5EDT,0/0,J365/25", 31536000 + 5 * 3600, "EDT"},
      {"EST5EDT,0/0,J365/25", -62135596800, "EDT"},
      {"EST5EDT,0/0,J365/25", 1720000000, "EDT"},
  };
  for (const Case& c : cases) {
    PosixRule::Result r = PosixRule::Parse(c.tz);
    ASSERT_FALSE(r.err) << c.tz;
    EXPECT_EQ(r.rule.Lookup(c.t).abbr, c.abbr) << c.tz << " at " << c.t;
  }
  // All year, hour by hour around several new years.
  PosixRule::Result all_year = PosixRule::Parse("EST5EDT,0/0,J365/25");
  for (std::int64_t year : {1999, 2000, 2023, 2024, 2100}) {
    const std::int64_t new_year = DaysFromCivil(year, 1, 1) * kSecondsPerDay;
    for (std::int64_t t = new_year - 86400; t < new_year + 86400; t += 1800) {
      EXPECT_TRUE(all_year.rule.Lookup(t).is_dst) << t;
    }
  }
}

}  // namespace
}  // namespace quorvale::time
