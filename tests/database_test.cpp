// The two ways a run ends around the database handle, seen from outside.

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/process.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUORVALE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define QUORVALE_SANITIZED 1
#endif
#endif

namespace quorvale::testing {
namespace {

constexpr char kStrace[] = "/usr/bin/strace";

struct Syscall {
  int pid;
  std::string name;
  std::string line;  // as strace wrote it, after the pid
};

// The system calls of a run of path under strace, in order, and the
// run's outcome; empty when strace cannot trace here.
std::vector<Syscall> Trace(const std::string& path, Outcome& o) {
  const std::string log = QUORVALE_SCRATCH_DIR "/database_test.strace";
  o = RunProgram(kStrace, {.args = {"-f", "-qq", "-o", log, path}});
  std::ifstream in(log);
  std::vector<Syscall> calls;
  static const std::regex kCall("(\\d+) +([a-z_0-9]+)\\((.*)");
  static const std::regex kResumed(
      "(\\d+) +<\\.\\.\\. ([a-z_0-9]+) resumed>.*");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, kResumed)) continue;
    if (std::regex_match(line, m, kCall)) {
      calls.push_back({std::stoi(m[1]), m[2], m[3]});
    }
  }
  return calls;
}

TEST(DatabaseTest, NormalRunStartsOneThreadOpensNoFileAndEndsAtOnce) {
#ifdef QUORVALE_SANITIZED
  GTEST_SKIP() << "a sanitizer's runtime opens files and starts threads";
#endif
  if (Outcome probe =
          RunProgram(kStrace, {.args = {"-o", "/dev/null", "/bin/true"}});
      probe.exit_code != 0) {
    GTEST_SKIP() << "strace cannot trace here: " << Describe(probe);
  }
  Outcome o;
  const std::vector<Syscall> calls = Trace(QUORVALE_BIN, o);
  ASSERT_EQ(o.exit_code, 0) << Describe(o);
  ASSERT_FALSE(calls.empty());
  const int main_pid = calls.front().pid;

  // Only the loader opens files, and only its own: the cache and the
  // shared libraries, before the program's first line.
  static const std::regex kLoaderFile(
      "AT_FDCWD, \"(/etc/ld\\.so\\.cache|[^\"]*\\.so(\\.[0-9]+)*)\".*");
  bool printed = false;
  int threads = 0;
  std::size_t clone_at = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Syscall& c = calls[i];
    if (c.name == "write" && c.line.rfind("1, ", 0) == 0) printed = true;
    if (c.name == "open" || c.name == "openat" || c.name == "openat2" ||
        c.name == "creat") {
      EXPECT_FALSE(printed) << "opened after the first line: " << c.line;
      EXPECT_TRUE(std::regex_match(c.line, kLoaderFile)) << c.line;
    }
    if (c.name == "clone" || c.name == "clone3" || c.name == "fork" ||
        c.name == "vfork") {
      ++threads;
      clone_at = i;
    }
  }
  EXPECT_EQ(threads, 1) << "the connection opener, and nothing else";

  // Once the opener is started, the entry's close and the exit make no
  // call that could wait or write: no join, no flush, no clean-up.
  for (std::size_t i = clone_at + 1; i < calls.size(); ++i) {
    const Syscall& c = calls[i];
    if (c.pid != main_pid) continue;
    const bool harmless =
        c.name == "rt_sigprocmask" || c.name == "exit_group" ||
        (c.name == "futex" && c.line.find("FUTEX_WAKE") != std::string::npos);
    EXPECT_TRUE(harmless) << c.name << "(" << c.line;
  }
  const Syscall* last = nullptr;
  for (const Syscall& c : calls) {
    if (c.pid == main_pid) last = &c;
  }
  EXPECT_EQ(last->name + "(" + last->line.substr(0, 1), "exit_group(0");
}

TEST(DatabaseTest, WithoutTheDriverTheRunEndsInTheFatalLine) {
  const Outcome normal = RunProgram(QUORVALE_BIN);
  Outcome o = RunProgram(QUORVALE_WITHOUT_DRIVER_BIN);
  EXPECT_EQ(o.exit_code, 1) << Describe(o);
  EXPECT_EQ(o.signal, 0);
  // The three lines come first, as a normal run prints them.
  EXPECT_EQ(o.out, normal.out);
  // The logger's header, the local date and time, stands before the
  // message; fatal_test checks its value.
  static const std::regex kLine(
      "\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} "
      "sql: unknown driver \"sqlite3\" \\(forgotten import\\?\\)\n");
  EXPECT_TRUE(std::regex_match(o.err, kLine)) << o.err;
}

// A normal run's end races its connection opener: every run must still end
// the same.
TEST(DatabaseTest, HundredsOfRunsInARowAllEndCleanly) {
  const Outcome first = RunProgram(QUORVALE_BIN);
  ASSERT_EQ(first.exit_code, 0) << Describe(first);
  for (int i = 0; i < 300; ++i) {
    Outcome o = RunProgram(QUORVALE_BIN);
    ASSERT_EQ(o.exit_code, 0) << "run " << i << ": " << Describe(o);
    ASSERT_EQ(o.err, "") << "run " << i;
    ASSERT_EQ(o.out, first.out) << "run " << i;
  }
}

}  // namespace
}  // namespace quorvale::testing
