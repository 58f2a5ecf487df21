#include "log/log.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "time/tzif.h"

namespace quorvale::log {
namespace {

const time::Zone kUtc;

time::Zone ZoneFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  const std::string image{std::istreambuf_iterator<char>(in), {}};
  time::Zone::Result r = time::Zone::Parse(image);
  EXPECT_FALSE(r.err) << r.err.Text();
  return r.zone;
}

struct HeaderCase {
  time::Time t;
  const char* want;
};

TEST(FormatHeaderTest, UtcTable) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  const HeaderCase cases[] = {
      {{1257894000, 0}, "2009/11/10 23:00:00 "},
      {{0, 0}, "1970/01/01 00:00:00 "},
      // A fraction of a second before midnight: dropped, never carried.
      {{1257897599, 999999999}, "2009/11/10 23:59:59 "},
      {{-1, 999999999}, "1969/12/31 23:59:59 "},
      // The first second of a year.
      {{1262304000, 0}, "2010/01/01 00:00:00 "},
      {{1262304000, 500000000}, "2010/01/01 00:00:00 "},
      // Years of fewer than four digits are filled out to four.
      {{-50000000000, 0}, "0385/07/25 07:06:40 "},
      {{-62167219200, 0}, "0000/01/01 00:00:00 "},
      // After 9999 every digit of the year is written.
      {{253402300799, 999999999}, "9999/12/31 23:59:59 "},
      {{253402300800, 0}, "10000/01/01 00:00:00 "},
      {{3093527980800, 0}, "100000/01/01 00:00:00 "},
      {{kMax, 0}, "292277026596/12/04 15:30:07 "},
      {{kMin, 0}, "-292277022657/01/27 08:29:52 "},
  };
  for (const HeaderCase& c : cases) {
    std::string got;
    FormatHeader(got, c.t, kUtc);
    EXPECT_EQ(got, c.want) << c.t.sec << "." << c.t.nsec;
  }
}

TEST(FormatHeaderTest, ReadsTheZonesClock) {
  const time::Zone tokyo = ZoneFromFile(QUORVALE_TIME_TESTDATA "/Asia_Tokyo");
  const time::Zone nuuk = ZoneFromFile(QUORVALE_TIME_TESTDATA "/America_Nuuk");
  struct Case {
    const time::Zone& zone;
    time::Time t;
    const char* want;
  } cases[] = {
      // Just before local midnight: the date of the day that is ending.
      {tokyo, {1257865199, 999999999}, "2009/11/10 23:59:59 "},
      {tokyo, {1257865200, 0}, "2009/11/11 00:00:00 "},
      // New year comes to Tokyo nine hours before UTC.
      {tokyo, {1293807600, 0}, "2011/01/01 00:00:00 "},
      // Nuuk, 2030: summer time from 01:00 UTC on the last Sunday of March.
      {nuuk, {1901149199, 0}, "2030/03/30 22:59:59 "},
      {nuuk, {1901149200, 0}, "2030/03/31 00:00:00 "},
      // The largest instant with a zone ahead of UTC: no overflow.
      {tokyo,
       {std::numeric_limits<std::int64_t>::max(), 0},
       "292277026596/12/05 00:30:07 "},
  };
  for (const Case& c : cases) {
    std::string got;
    FormatHeader(got, c.t, c.zone);
    EXPECT_EQ(got, c.want) << c.t.sec;
  }
}

// The logger under test writes through a capturing fake at a fixed instant
// in UTC.
std::vector<std::string> calls;

ssize_t Capture(int, const void* buf, std::size_t count) {
  calls.emplace_back(static_cast<const char*>(buf), count);
  return static_cast<ssize_t>(count);
}

// Only write is ever called.
constexpr os::Syscalls kCapture = {Capture, nullptr, nullptr,
                                   nullptr, nullptr, nullptr};

// Atomic: the concurrency test reads this clock from several threads.
std::atomic<int> clock_reads = 0;
time::Time FixedClock() {
  ++clock_reads;
  return {1257894000, 123456789};
}
const time::Zone& Utc() { return kUtc; }

TEST(LoggerOutputTest, OneWriteOfHeaderMessageAndLineFeed) {
  struct Case {
    std::string message;
    std::string line;
  } cases[] = {
      {"boom", "2009/11/10 23:00:00 boom\n"},
      {"ends in a line feed\n", "2009/11/10 23:00:00 ends in a line feed\n"},
      {"two\n\n", "2009/11/10 23:00:00 two\n\n"},
      {"", "2009/11/10 23:00:00 \n"},
      {"inner\nline", "2009/11/10 23:00:00 inner\nline\n"},
      {std::string("nul\0byte", 8),
       std::string("2009/11/10 23:00:00 nul\0byte\n", 29)},
      {std::string(100000, 'x'),
       "2009/11/10 23:00:00 " + std::string(100000, 'x') + "\n"},
  };
  os::File out(9, "capture", &kCapture);
  Logger logger(out, FixedClock, Utc);
  for (const Case& c : cases) {
    calls.clear();
    clock_reads = 0;
    EXPECT_FALSE(logger.Output(c.message));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], c.line);
    EXPECT_EQ(clock_reads, 1);
  }
}

TEST(LoggerOutputTest, ReturnsTheWritesError) {
  os::File closed(-1, "closed");
  Logger logger(closed, FixedClock, Utc);
  Error err = logger.Output("x");
  ASSERT_TRUE(err);
  EXPECT_EQ(err.Errno(), EBADF);
}

TEST(LoggerOutputTest, ConcurrentLinesDoNotInterleave) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  os::File out(fds[1], "pipe");
  Logger logger(out, FixedClock, Utc);
  std::string all;
  std::thread reader([&] {
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) all.append(buf, n);
  });
  {
    std::vector<std::jthread> writers;
    for (char c = 'a'; c < 'e'; ++c) {
      writers.emplace_back([&logger, c] {
        // Longer than a pipe's atomic write: only the lock keeps it whole.
        const std::string msg(20000, c);
        for (int i = 0; i < 20; ++i) logger.Output(msg);
      });
    }
  }
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);
  std::size_t lines = 0;
  for (std::size_t at = 0; at < all.size(); ++lines) {
    const std::size_t nl = all.find('\n', at);
    ASSERT_NE(nl, std::string::npos);
    const std::string line = all.substr(at, nl - at);
    ASSERT_EQ(line.size(), 20u + 20000u);
    EXPECT_EQ(line.substr(20).find_first_not_of(line[20]), std::string::npos);
    at = nl + 1;
  }
  EXPECT_EQ(lines, 80u);
}

void SayOnExit() {
  if (::write(2, "exit handler ran\n", 17) < 0) std::abort();
}

struct SaysOnDestruction {
  ~SaysOnDestruction() {
    if (::write(2, "destructor ran\n", 15) < 0) std::abort();
  }
};

TEST(FatalDeathTest, WritesOneLineAndExitsAtOnceWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atexit(SayOnExit);
        static SaysOnDestruction on_exit;
        (void)on_exit;
        // A thread that never ends must not hold the exit up.
        std::thread([] { ::pause(); }).detach();
        ::setenv("TZ", "UTC", 1);
        Fatal(Error("sql: unknown driver \"sqlite3\" (forgotten import?)"));
      },
      ::testing::ExitedWithCode(1),
      "^[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} "
      "sql: unknown driver \"sqlite3\" \\(forgotten import\\?\\)\n$");
}

TEST(FatalDeathTest, AFailedWriteStillExitsWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::close(2);
        Fatal(Error("nobody hears this"));
      },
      ::testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace quorvale::log
