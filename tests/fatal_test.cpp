// The fatal line of a run that can have no database handle: its header is
// the local date and time of the zone that TZ selects, to the second, and
// UTC for any zone that cannot be loaded.

#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/process.h"

extern char** environ;

namespace quorvale::testing {
namespace {

constexpr std::string_view kMessage =
    "sql: unknown driver \"sqlite3\" (forgotten import?)\n";

// The header that the C library's local time gives for instant t with TZ
// set to reference_tz (nullptr: unset).
std::string CHeader(time_t t, const char* reference_tz) {
  if (reference_tz != nullptr) {
    ::setenv("TZ", reference_tz, 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  struct tm tm;
  EXPECT_NE(::localtime_r(&t, &tm), nullptr);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d ",
                tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                tm.tm_min, tm.tm_sec);
  return buf;
}

// The test's own environment without TZ, plus tz when it is given.
std::vector<std::string> EnvWith(const char* tz) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string_view(*e).starts_with("TZ=")) continue;
    env.emplace_back(*e);
  }
  if (tz != nullptr) env.push_back(std::string("TZ=") + tz);
  return env;
}

struct Case {
  const char* tz;            // the program's TZ; nullptr: unset
  const char* reference_tz;  // the same zone for the C library
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << (c.tz != nullptr ? "TZ=\"" + std::string(c.tz) + "\"" : "TZ unset");
}

time_t RealSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec;
}

class FatalLineTest : public ::testing::TestWithParam<Case> {
 protected:
  void TearDown() override {
    ::unsetenv("TZ");
    ::tzset();
  }
};

TEST_P(FatalLineTest, HeaderIsTheLocalTimeOfTheZoneThatTzSelects) {
  const Case& c = GetParam();
  const Outcome normal = RunProgram(QUORVALE_BIN);
  // time() reads a coarse clock that can lag the program's by a tick.
  const time_t before = RealSeconds();
  const Outcome o =
      RunProgram(QUORVALE_WITHOUT_DRIVER_BIN, {.env = EnvWith(c.tz)});
  const time_t after = RealSeconds();

  EXPECT_EQ(o.exit_code, 1) << Describe(o);
  EXPECT_EQ(o.out, normal.out);
  ASSERT_GT(o.err.size(), kMessage.size());
  const std::string header = o.err.substr(0, o.err.size() - kMessage.size());
  EXPECT_EQ(o.err.substr(header.size()), kMessage);
  // The clock may tick between the reads: any second of the run will do.
  bool matched = false;
  std::string expected;
  for (time_t t = before; t <= after && !matched; ++t) {
    expected = CHeader(t, c.reference_tz);
    matched = header == expected;
  }
  EXPECT_TRUE(matched) << "header \"" << header << "\", expected \"" << expected
                       << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Zones, FatalLineTest,
    ::testing::Values(
        Case{nullptr, nullptr},  // /etc/localtime, or UTC without it
        Case{"Asia/Tokyo", "Asia/Tokyo"}, Case{":America/Nuuk", "America/Nuuk"},
        Case{"/usr/share/zoneinfo/Pacific/Chatham", "Pacific/Chatham"},
        Case{"Australia/Lord_Howe", "Australia/Lord_Howe"}, Case{"", "UTC0"},
        Case{":", "UTC0"}, Case{"UTC", "UTC0"},
        // Nothing that can be loaded: UTC, silently.
        Case{"Nowhere/Zone", "UTC0"}, Case{"../../../etc/passwd", "UTC0"},
        Case{"/dev/zero", "UTC0"}, Case{"/etc", "UTC0"}, Case{"JST-9", "UTC0"},
        Case{"EST5EDT,M3.2.0,M11.1.0", "UTC0"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace quorvale::testing
