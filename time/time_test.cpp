#include "time/time.h"

#include <time.h>

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace quorvale::time {
namespace {

struct CivilCase {
  std::int64_t seconds;
  std::int32_t utoff;
  Civil want;
};

TEST(CivilFromSecondsTest, Table) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  const CivilCase cases[] = {
      {0, 0, {1970, 1, 1, 0, 0, 0}},
      {-1, 0, {1969, 12, 31, 23, 59, 59}},
      {951782400, 0, {2000, 2, 29, 0, 0, 0}},
      {4107542400, 0, {2100, 3, 1, 0, 0, 0}},  // 2100 has no 29 February
      {253402300799, 0, {9999, 12, 31, 23, 59, 59}},
      {253402300800, 0, {10000, 1, 1, 0, 0, 0}},
      {-62135596800, 0, {1, 1, 1, 0, 0, 0}},
      {-62167219200, 0, {0, 1, 1, 0, 0, 0}},
      // The offset moves the clock across a day and a year.
      {0, 3600, {1970, 1, 1, 1, 0, 0}},
      {0, -1, {1969, 12, 31, 23, 59, 59}},
      {1293839999, 1, {2011, 1, 1, 0, 0, 0}},
      // The ends of the range, where adding the offset first would
      // overflow.
      {kMax, 0, {292277026596, 12, 4, 15, 30, 7}},
      {kMax, 93599, {292277026596, 12, 5, 17, 30, 6}},
      {kMin, 0, {-292277022657, 1, 27, 8, 29, 52}},
      {kMin, -89999, {-292277022657, 1, 26, 7, 29, 53}},
  };
  for (const CivilCase& c : cases) {
    const Civil got = CivilFromSeconds(c.seconds, c.utoff);
    SCOPED_TRACE(::testing::Message() << c.seconds << " + " << c.utoff);
    EXPECT_EQ(got.year, c.want.year);
    EXPECT_EQ(got.month, c.want.month);
    EXPECT_EQ(got.day, c.want.day);
    EXPECT_EQ(got.hour, c.want.hour);
    EXPECT_EQ(got.minute, c.want.minute);
    EXPECT_EQ(got.second, c.want.second);
  }
}

// The C library's gmtime_r as the reference, from year -30000 to 300000,
// with a stride that is no multiple of a day, a year or 400 years, and
// DaysFromCivil as the inverse.
TEST(CivilFromSecondsTest, AgreesWithGmtimeAndDaysFromCivil) {
  for (std::int64_t t = -1'000'000'000'000; t < 10'000'000'000'000;
       t += 7'777'777'777 + 13) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tm;
    ASSERT_NE(::gmtime_r(&tt, &tm), nullptr);
    const Civil c = CivilFromSeconds(t);
    ASSERT_EQ(c.year, tm.tm_year + std::int64_t{1900}) << t;
    ASSERT_EQ(c.month, tm.tm_mon + 1) << t;
    ASSERT_EQ(c.day, tm.tm_mday) << t;
    ASSERT_EQ(c.hour * 3600 + c.minute * 60 + c.second,
              tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec)
        << t;
    ASSERT_EQ(DaysFromCivil(c.year, c.month, c.day), FloorDiv(t, 86400)) << t;
  }
}

TEST(FloorDivTest, RoundsTowardsNegativeInfinity) {
  EXPECT_EQ(FloorDiv(7, 2), 3);
  EXPECT_EQ(FloorDiv(-7, 2), -4);
  EXPECT_EQ(FloorDiv(-8, 2), -4);
  EXPECT_EQ(FloorMod(-7, 2), 1);
  EXPECT_EQ(FloorMod(-86400, 86400), 0);
  EXPECT_EQ(FloorMod(-1, 86400), 86399);
}

// time() reads a coarse clock that can lag the real-time clock by a tick,
// so the bounds come from the real-time clock itself.
std::int64_t RealSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec;
}

TEST(NowTest, ReadsTheRealTimeClock) {
  const std::int64_t before = RealSeconds();
  const Time now = Now();
  const std::int64_t after = RealSeconds();
  EXPECT_GE(now.sec, before);
  EXPECT_LE(now.sec, after);
  EXPECT_GE(now.nsec, 0);
  EXPECT_LT(now.nsec, 1'000'000'000);
}

}  // namespace
}  // namespace quorvale::time
