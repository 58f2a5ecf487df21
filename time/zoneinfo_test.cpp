// Every zone file of the machine, read by our reader and by the C library:
// both must give the same local time at every transition, a second either
// side of it, across the years the footer's rule governs, and at a few
// fixed instants.
//
// The files under right/ count leap seconds in their transition times and
// carry leap-second records, which the C library applies and our reader, on
// a clock that has no leap seconds, skips: for them only loading is
// checked.

#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "time/local.h"
#include "time/time.h"
#include "time/tzif.h"

namespace quorvale::time {
namespace {

namespace fs = std::filesystem;

constexpr const char* kZoneDir = "/usr/share/zoneinfo";

bool IsTzif(const fs::path& p) {
  char magic[4] = {};
  std::ifstream in(p, std::ios::binary);
  return in.read(magic, 4) && std::string_view(magic, 4) == "TZif";
}

// Each TZif file once, by its real path, whatever links lead to it.
std::set<std::string> ZoneFiles() {
  std::set<std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator
           it(kZoneDir, fs::directory_options::follow_directory_symlink, ec),
       end;
       it != end; it.increment(ec)) {
    if (ec) break;
    if (!it->is_regular_file() || !IsTzif(it->path())) continue;
    files.insert(fs::canonical(it->path()).string());
  }
  return files;
}

// The local time at an instant, as both sides report it.
struct Reading {
  std::int64_t year;
  int month, day, hour, minute, second;
  long utoff;
  bool is_dst;
  std::string abbr;
  bool operator==(const Reading&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Reading& r) {
  return os << r.year << "-" << r.month << "-" << r.day << " " << r.hour << ":"
            << r.minute << ":" << r.second << " " << r.utoff << " "
            << (r.is_dst ? "dst " : "std ") << r.abbr;
}

Reading CLibrary(std::int64_t t) {
  const time_t tt = static_cast<time_t>(t);
  struct tm tm;
  if (::localtime_r(&tt, &tm) == nullptr) return {};
  return {tm.tm_year + std::int64_t{1900},
          tm.tm_mon + 1,
          tm.tm_mday,
          tm.tm_hour,
          tm.tm_min,
          tm.tm_sec,
          tm.tm_gmtoff,
          tm.tm_isdst > 0,
          tm.tm_zone};
}

Reading Ours(const Zone& z, std::int64_t t) {
  const ZoneOffset o = z.Lookup(t);
  const Civil c = CivilFromSeconds(t, o.utoff);
  return {c.year,  c.month,  c.day,
          c.hour,  c.minute, c.second,
          o.utoff, o.is_dst, std::string(o.abbr)};
}

std::int64_t At(std::int64_t year, int month, int day) {
  return DaysFromCivil(year, month, day) * kSecondsPerDay;
}

// The first instant in (lo, hi] whose reading differs from lo's.
template <typename F>
std::int64_t FirstChange(F f, std::int64_t lo, std::int64_t hi) {
  const Reading at_lo = f(lo);
  auto same_clock = [&at_lo](const Reading& r) {
    return r.utoff == at_lo.utoff && r.is_dst == at_lo.is_dst &&
           r.abbr == at_lo.abbr;
  };
  while (hi - lo > 1) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    if (same_clock(f(mid))) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return hi;
}

class ZoneinfoTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ::unsetenv("TZ");
    ::tzset();
  }
};

TEST_F(ZoneinfoTest, EveryZoneFileAgreesWithTheCLibrary) {
  const std::set<std::string> files = ZoneFiles();
  if (files.empty()) GTEST_SKIP() << "no zone files under " << kZoneDir;
  const std::int64_t now = ::time(nullptr);
  int compared = 0, failed_files = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const Zone::Result r = ReadZoneFile(path);
    ASSERT_FALSE(r.err) << r.err.Text();
    if (path.find("/right/") != std::string::npos) continue;
    ++compared;

    ASSERT_EQ(::setenv("TZ", path.c_str(), 1), 0);
    ::tzset();
    const Zone& z = r.zone;
    auto ours = [&z](std::int64_t t) { return Ours(z, t); };
    auto check = [&](std::int64_t t) {
      const Reading want = CLibrary(t);
      const Reading got = ours(t);
      if (got == want) return true;
      ADD_FAILURE() << "at " << t << ": ours " << got << ", C library " << want;
      return false;
    };

    bool ok = true;
    for (std::int64_t t : z.Transitions()) {
      ok = ok && check(t - 1) && check(t) && check(t + 1);
    }
    for (std::int64_t t : {std::int64_t{-1} << 40, std::int64_t{-1} << 31,
                           At(1800, 1, 1), now, std::int64_t{1} << 31,
                           At(2040, 6, 1), At(2100, 1, 1), At(2100, 7, 1)}) {
      ok = ok && check(t);
    }

    // The footer's years: a week at a time, and to the second wherever the
    // local time changes.
    for (auto [from, to] : {std::pair{2024, 2045}, {2096, 2103}}) {
      Reading prev = CLibrary(At(from, 1, 1));
      for (std::int64_t t = At(from, 1, 1) + 7 * kSecondsPerDay;
           ok && t <= At(to, 1, 1); t += 7 * kSecondsPerDay) {
        ok = check(t);
        const Reading cur = CLibrary(t);
        if (cur.utoff == prev.utoff && cur.abbr == prev.abbr &&
            cur.is_dst == prev.is_dst) {
          continue;
        }
        const std::int64_t when =
            FirstChange(CLibrary, t - 7 * kSecondsPerDay, t);
        EXPECT_EQ(FirstChange(ours, t - 7 * kSecondsPerDay, t), when);
        ok = ok && check(when - 1) && check(when);
        prev = cur;
      }
    }
    // A handful of zones' reports is enough to go on.
    if (!ok && ++failed_files == 10) break;
  }
  EXPECT_GT(compared, 0);
  std::printf("compared %d zone files with the C library\n", compared);
}

}  // namespace
}  // namespace quorvale::time
