#include "os/file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quorvale::os {
namespace {

// One scripted answer of the fake write call: take up to `take` bytes, or
// fail with `err` when take < 0.
struct Step {
  ssize_t take;
  int err = 0;
};

// The fake system call sees one script at a time; tests run one at a time.
std::vector<Step> script;
std::size_t next_step;
std::string written;
std::vector<std::size_t> asked;  // the count passed to each call

ssize_t ScriptedWrite(int, const void* buf, std::size_t count) {
  asked.push_back(count);
  if (next_step == script.size()) {
    ADD_FAILURE() << "write called more often than scripted";
    errno = EIO;
    return -1;
  }
  Step step = script[next_step++];
  if (step.take < 0) {
    errno = step.err;
    return -1;
  }
  std::size_t n = std::min<std::size_t>(count, step.take);
  written.append(static_cast<const char*>(buf), n);
  return static_cast<ssize_t>(n);
}

class FileWriteTest : public ::testing::Test {
 protected:
  WriteResult Run(std::vector<Step> steps, std::string_view data) {
    script = std::move(steps);
    next_step = 0;
    written.clear();
    asked.clear();
    File f(7, "fake", ScriptedWrite);
    WriteResult r = f.Write(data);
    EXPECT_EQ(next_step, script.size()) << "not every scripted call was made";
    return r;
  }
};

TEST_F(FileWriteTest, CompletesALineAcrossPartialWritesAndInterruptions) {
  const std::string line = "Version ...........:  0.0.2\n";
  WriteResult r = Run({{-1, EINTR}, {3}, {-1, EINTR}, {10}, {1000}}, line);
  EXPECT_FALSE(r.err) << r.err.Text();
  EXPECT_EQ(r.n, line.size());
  EXPECT_EQ(written, line);
  // Each call offers exactly the bytes not yet written.
  EXPECT_EQ(asked, (std::vector<std::size_t>{28, 28, 25, 25, 15}));
}

TEST_F(FileWriteTest, FailureKeepsWhatWasWrittenAndCountsIt) {
  WriteResult r = Run({{4}, {-1, ENOSPC}}, "abcdefgh");
  ASSERT_TRUE(r.err);
  EXPECT_EQ(r.err.Errno(), ENOSPC);
  EXPECT_EQ(r.err.Text(), "write fake: No space left on device");
  EXPECT_EQ(r.n, 4u);
  EXPECT_EQ(written, "abcd");
}

TEST_F(FileWriteTest, AWriteThatTakesNothingFailsInsteadOfSpinning) {
  WriteResult r = Run({{0}}, "abc");
  ASSERT_TRUE(r.err);
  EXPECT_EQ(r.err.Errno(), EIO);
  EXPECT_EQ(r.n, 0u);
}

TEST_F(FileWriteTest, EmptyDataMakesNoCall) {
  WriteResult r = Run({}, "");
  EXPECT_FALSE(r.err);
  EXPECT_EQ(r.n, 0u);
}

// The real system call, through a pipe.
TEST(FileTest, WritesToARealDescriptor) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  File f(fds[1], "pipe");
  WriteResult r = f.Write("hello\n");
  EXPECT_FALSE(r.err);
  EXPECT_EQ(r.n, 6u);
  char buf[16];
  EXPECT_EQ(read(fds[0], buf, sizeof buf), 6);
  EXPECT_EQ(std::string(buf, 6), "hello\n");
  close(fds[0]);
  close(fds[1]);
}

TEST(FileTest, ReportsABadDescriptor) {
  File f(-1, "nowhere");
  WriteResult r = f.Write("x");
  ASSERT_TRUE(r.err);
  EXPECT_EQ(r.err.Errno(), EBADF);
  EXPECT_EQ(r.n, 0u);
}

TEST(FileTest, StandardStreamsAreDescriptorsOneAndTwo) {
  EXPECT_EQ(Stdout.Fd(), 1);
  EXPECT_EQ(Stderr.Fd(), 2);
}

}  // namespace
}  // namespace quorvale::os
