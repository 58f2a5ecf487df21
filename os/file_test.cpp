#include "os/file.h"

#include <signal.h>
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

// The fake system calls see one script at a time; tests run one at a time.
// Every call is logged, so a test sees the order of calls and arguments.
std::vector<Step> writes;
std::size_t next_write;
std::vector<int> polls;  // each poll's errno, 0 for "ready"
std::size_t next_poll;
std::string written;
std::vector<std::string> calls;

ssize_t FakeWrite(int fd, const void* buf, std::size_t count) {
  std::string call = "write ";
  call.append(std::to_string(fd)).append(" ").append(std::to_string(count));
  calls.push_back(call);
  if (next_write == writes.size()) {
    ADD_FAILURE() << "write called more often than scripted";
    errno = EIO;
    return -1;
  }
  Step step = writes[next_write++];
  if (step.take < 0) {
    errno = step.err;
    return -1;
  }
  std::size_t n = std::min<std::size_t>(count, step.take);
  written.append(static_cast<const char*>(buf), n);
  return static_cast<ssize_t>(n);
}

int FakePoll(pollfd* fds, nfds_t nfds, int timeout) {
  std::string call = "poll";
  for (nfds_t i = 0; i < nfds; ++i) {
    call.append(" ").append(std::to_string(fds[i].fd));
    call.append(fds[i].events == POLLOUT ? " out" : " events?");
  }
  calls.push_back(call.append(" ").append(std::to_string(timeout)));
  if (next_poll == polls.size()) {
    ADD_FAILURE() << "poll called more often than scripted";
    errno = EINVAL;
    return -1;
  }
  int err = polls[next_poll++];
  if (err != 0) {
    errno = err;
    return -1;
  }
  fds[0].revents = POLLOUT;
  return 1;
}

int FakeSigmask(int how, const sigset_t* set, sigset_t*) {
  std::string call = how == SIG_UNBLOCK ? "unblock" : "sigmask?";
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sigismember(set, sig) == 1)
      call.append(" ").append(std::to_string(sig));
  }
  calls.push_back(call);
  return 0;
}

int FakeRaise(int sig) {
  calls.push_back("raise " + std::to_string(sig));
  return 0;
}

sighandler_t FakeSignal(int sig, sighandler_t handler) {
  calls.push_back("signal " + std::to_string(sig) +
                  (handler == SIG_DFL ? " default" : " other"));
  return SIG_IGN;
}

void FakeExit(int status) { calls.push_back("exit " + std::to_string(status)); }

constexpr Syscalls kFake = {FakeWrite, FakePoll,   FakeSigmask,
                            FakeRaise, FakeSignal, FakeExit};

// The end of a process whose write to a standard stream met a broken pipe,
// when it survives every step (only fakes let it): SIGPIPE unblocked,
// raised as the process started with it, raised under the default action,
// then status 2.
const std::vector<std::string> kBrokenPipeEnd = {
    "unblock 13", "raise 13", "signal 13 default", "raise 13", "exit 2"};

std::vector<std::string> Join(std::vector<std::string> a,
                              const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Case {
  const char* name;
  int fd;
  std::vector<Step> writes;
  std::vector<int> polls;
  std::string data;
  std::vector<std::string> want_calls;
  std::size_t want_n;
  int want_errno;  // 0: success
};

TEST(FileWriteTest, RetriesAndFailuresAgainstScriptedSystemCalls) {
  const std::string line = "Version ...........:  0.0.2\n";  // 28 bytes
  const Case cases[] = {
      {"partial writes and interruptions complete the line",
       7,
       {{-1, EINTR}, {3}, {-1, EINTR}, {10}, {1000}},
       {},
       line,
       {"write 7 28", "write 7 28", "write 7 25", "write 7 25", "write 7 15"},
       28,
       0},
      {"a full non-blocking descriptor is waited on, then written",
       7,
       {{-1, EAGAIN}, {1000}},
       {0},
       line,
       {"write 7 28", "poll 7 out -1", "write 7 28"},
       28,
       0},
      {"partial, full, interrupted wait, then the rest",
       1,
       {{5}, {-1, EWOULDBLOCK}, {-1, EAGAIN}, {1000}},
       {0, EINTR, 0},
       line,
       {"write 1 28", "write 1 23", "poll 1 out -1", "write 1 23",
        "poll 1 out -1", "poll 1 out -1", "write 1 23"},
       28,
       0},
      {"a failed wait is the write's failure",
       7,
       {{2}, {-1, EAGAIN}},
       {ENOMEM},
       line,
       {"write 7 28", "write 7 26", "poll 7 out -1"},
       2,
       ENOMEM},
      {"a failure keeps what was written and counts it",
       7,
       {{4}, {-1, ENOSPC}},
       {},
       "abcdefgh",
       {"write 7 8", "write 7 4"},
       4,
       ENOSPC},
      {"a write that takes nothing fails instead of spinning",
       7,
       {{0}},
       {},
       "abc",
       {"write 7 3"},
       0,
       EIO},
      {"empty data makes no call", 7, {}, {}, "", {}, 0, 0},
      {"a broken pipe elsewhere is an ordinary failure",
       7,
       {{3}, {-1, EPIPE}},
       {},
       line,
       {"write 7 28", "write 7 25"},
       3,
       EPIPE},
      {"a broken pipe on standard output ends the process",
       1,
       {{3}, {-1, EPIPE}},
       {},
       line,
       Join({"write 1 28", "write 1 25"}, kBrokenPipeEnd),
       3,
       EPIPE},
      {"a broken pipe on standard error ends the process",
       2,
       {{-1, EINTR}, {-1, EPIPE}},
       {},
       line,
       Join({"write 2 28", "write 2 28"}, kBrokenPipeEnd),
       0,
       EPIPE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writes = c.writes;
    next_write = 0;
    polls = c.polls;
    next_poll = 0;
    written.clear();
    calls.clear();
    File f(c.fd, "fake", &kFake);
    WriteResult r = f.Write(c.data);
    EXPECT_EQ(calls, c.want_calls);
    EXPECT_EQ(next_write, writes.size()) << "not every scripted write made";
    EXPECT_EQ(next_poll, polls.size()) << "not every scripted poll made";
    EXPECT_EQ(r.n, c.want_n);
    EXPECT_EQ(written, c.data.substr(0, c.want_n));
    EXPECT_EQ(r.err.Errno(), c.want_errno) << r.err.Text();
    EXPECT_EQ(static_cast<bool>(r.err), c.want_errno != 0);
  }
}

TEST(FileWriteTest, FailureTextNamesTheFileAndTheCause) {
  writes = {{-1, ENOSPC}};
  next_write = 0;
  calls.clear();
  File f(7, "fake", &kFake);
  EXPECT_EQ(f.Write("x").err.Text(), "write fake: No space left on device");
}

// The real system calls, through a pipe.
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

// A real broken pipe on a descriptor other than 1 and 2 comes back as an
// error, and the process lives on.
TEST(FileTest, ReportsABrokenPipeOnAnotherDescriptor) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  // Ignored so that the kernel's own SIGPIPE does not end the test.
  sighandler_t old = signal(SIGPIPE, SIG_IGN);
  File f(fds[1], "pipe");
  WriteResult r = f.Write("x");
  signal(SIGPIPE, old);
  close(fds[1]);
  ASSERT_TRUE(r.err);
  EXPECT_EQ(r.err.Errno(), EPIPE);
  EXPECT_EQ(r.n, 0u);
}

TEST(FileTest, StandardStreamsAreDescriptorsOneAndTwo) {
  EXPECT_EQ(Stdout.Fd(), 1);
  EXPECT_EQ(Stderr.Fd(), 2);
}

}  // namespace
}  // namespace quorvale::os
