// The program's standard streams under faults: broken pipes in every
// SIGPIPE start state, outputs that refuse writes, and non-blocking
// outputs that fill up. Cases on the fatal road run the build that has no
// driver, where the log line goes to standard error and the status is 1.

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/process.h"

namespace quorvale::testing {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// How SIGPIPE stands when the program starts; a parent shell or supervisor
// may leave it ignored, blocked or both.
struct SigpipeStart {
  const char* name;
  bool ignored;
  bool blocked;
};

constexpr SigpipeStart kSigpipeStarts[] = {
    {"default", false, false},
    {"ignored", true, false},
    {"blocked", false, true},
    {"ignored and blocked", true, true},
};

// In the child: sets SIGPIPE's start state.
void SetSigpipe(const SigpipeStart& s) {
  if (s.ignored) signal(SIGPIPE, SIG_IGN);
  if (s.blocked) {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigprocmask(SIG_BLOCK, &pipe_only, nullptr);
  }
}

// In the child: puts a pipe whose reader has gone over descriptor fd.
void BreakPipeOn(int fd) {
  int p[2];
  if (pipe(p) != 0) _exit(126);
  close(p[0]);
  dup2(p[1], fd);
  close(p[1]);
}

// A normal run, its standard output taking everything.
const Outcome& NormalRun() {
  static const Outcome o = RunProgram(QUORVALE_BIN);
  return o;
}

const std::string& NormalOutput() { return NormalRun().out; }

TEST(BrokenPipeTest, BrokenStdoutKillsTheRunBySigpipeInEveryStartState) {
  for (const SigpipeStart& start : kSigpipeStarts) {
    SCOPED_TRACE(start.name);
    Outcome o = RunProgram(QUORVALE_BIN, {.in_child = [start] {
                             BreakPipeOn(1);
                             SetSigpipe(start);
                           }});
    EXPECT_EQ(o.signal, SIGPIPE) << Describe(o);
    EXPECT_EQ(o.err, "");
  }
}

TEST(BrokenPipeTest, BrokenStderrOnTheFatalLineKillsBySigpipeInEveryState) {
  for (const SigpipeStart& start : kSigpipeStarts) {
    SCOPED_TRACE(start.name);
    Outcome o = RunProgram(QUORVALE_WITHOUT_DRIVER_BIN, {.in_child = [start] {
                             BreakPipeOn(2);
                             SetSigpipe(start);
                           }});
    EXPECT_EQ(o.signal, SIGPIPE) << Describe(o);
    // The three lines went out before the handle was asked for.
    EXPECT_EQ(o.out, NormalOutput());
  }
}

// A refused standard output or standard error changes nothing on the fatal
// road: the entry goes on past failed lines to the open, and the run still
// ends with status 1.
TEST(RefusedOutputTest, FatalRoadStillEndsWithStatusOne) {
  struct Case {
    const char* name;
    int fd;
    void (*refuse)(int fd);
  };
  const Case cases[] = {
      {"stdout closed", 1, [](int fd) { close(fd); }},
      {"stdout a full device", 1,
       [](int fd) { dup2(open("/dev/full", O_WRONLY), fd); }},
      {"stdout read-only", 1,
       [](int fd) { dup2(open("/dev/null", O_RDONLY), fd); }},
      {"stderr closed", 2, [](int fd) { close(fd); }},
      {"stderr a full device", 2,
       [](int fd) { dup2(open("/dev/full", O_WRONLY), fd); }},
      {"stderr read-only", 2,
       [](int fd) { dup2(open("/dev/null", O_RDONLY), fd); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o = RunProgram(QUORVALE_WITHOUT_DRIVER_BIN,
                           {.in_child = [c] { c.refuse(c.fd); }});
    EXPECT_EQ(o.exit_code, 1) << Describe(o);
    EXPECT_EQ(o.signal, 0);
    if (c.fd == 1) {
      EXPECT_EQ(o.out, "");
      // The entry got past its three failed lines to the open.
      EXPECT_NE(o.err.find("sql: unknown driver \"sqlite3\""),
                std::string::npos)
          << o.err;
    } else {
      EXPECT_EQ(o.out, NormalOutput());
      EXPECT_EQ(o.err, "");
    }
  }
}

// An output that refuses writes for any reason but a broken pipe: the run
// goes on and ends as usual, and says nothing about it.
TEST(RefusedOutputTest, RunEndsNormallyAndSilently) {
  struct Case {
    const char* name;
    void (*set_up)();
  };
  const Case cases[] = {
      {"closed", [] { close(1); }},
      {"full device",
       [] {
         int fd = open("/dev/full", O_WRONLY);
         dup2(fd, 1);
       }},
      {"opened read-only",
       [] {
         int fd = open("/dev/null", O_RDONLY);
         dup2(fd, 1);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o = RunProgram(QUORVALE_BIN, {.in_child = c.set_up});
    EXPECT_EQ(o.exit_code, 0) << Describe(o);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, "");
  }
}

// A file size limit lets the second line only partly out: what went out
// stays, the rest of the run still happens.
TEST(RefusedOutputTest, BytesWrittenBeforeAFailureStayWritten) {
  const std::string& normal = NormalOutput();
  ASSERT_GT(normal.size(), 40u);
  const std::size_t first = normal.find('\n') + 1;
  const rlim_t limit = first + 2;  // the first line and two bytes more
  int file = memfd_create("stdout", MFD_CLOEXEC);
  ASSERT_GE(file, 0);
  Outcome o = RunProgram(QUORVALE_BIN, {.in_child = [file, limit] {
                           dup2(file, 1);
                           // Ignored, the limit gives EFBIG.
                           signal(SIGXFSZ, SIG_IGN);
                           rlimit r = {limit, limit};
                           setrlimit(RLIMIT_FSIZE, &r);
                         }});
  EXPECT_EQ(o.exit_code, 0) << Describe(o);
  EXPECT_EQ(o.err, "");
  std::string got(normal.size(), '\0');
  ssize_t n = pread(file, got.data(), got.size(), 0);
  close(file);
  ASSERT_GE(n, 0);
  got.resize(static_cast<std::size_t>(n));
  EXPECT_EQ(got, normal.substr(0, limit));
}

// Reads a descriptor to its end on a thread of its own, slowly: nothing at
// all for `stall`, then at most `chunk` bytes a read with `pause` between.
class SlowReader {
 public:
  SlowReader(int fd, milliseconds stall, std::size_t chunk, microseconds pause)
      : thread_([this, fd, stall, chunk, pause] {
          std::this_thread::sleep_for(stall);
          std::string buf(chunk, '\0');
          for (;;) {
            ssize_t n = read(fd, buf.data(), chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got_.append(buf, 0, static_cast<std::size_t>(n));
            std::this_thread::sleep_for(pause);
          }
        }) {}

  // Waits for the end of the data (every writer closed) and returns it.
  std::string Finish() {
    thread_.join();
    return got_;
  }

 private:
  std::string got_;
  std::thread thread_;
};

// Writes to the non-blocking fd until it takes nothing more; returns what
// was written. A socket may take part of a block: that part counts too.
std::string Fill(int fd) {
  std::string all;
  for (std::size_t size : {std::size_t{4096}, std::size_t{1}}) {
    const std::string block(size, '#');
    ssize_t n;
    while ((n = write(fd, block.data(), size)) > 0) {
      all.append(block, 0, static_cast<std::size_t>(n));
    }
  }
  EXPECT_EQ(errno, EAGAIN);
  return all;
}

// Standard output shares a non-blocking open file description with the
// parent, full when the program starts: the program must wait for room,
// without spinning and without touching the flags, and get every line out.
TEST(NonBlockingOutputTest, EveryLineGoesOutWholeWithoutBusyWaiting) {
  // Long enough that a program spinning on EAGAIN would burn most of it.
  constexpr milliseconds kStall(1000);
  struct Case {
    const char* name;
    bool socket;
    std::size_t chunk;
    microseconds pause;
  };
  const Case cases[] = {
      {"pipe drained slowly", false, 512, microseconds(1000)},
      {"socket with tiny buffers read a few bytes at a time", true, 3,
       microseconds(100)},
  };
  const std::string& normal = NormalOutput();
  ASSERT_FALSE(normal.empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int fds[2];  // [0] is read here, [1] becomes the program's stdout
    if (c.socket) {
      ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
      int tiny = 1;  // the system rounds it up to its minimum
      setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &tiny, sizeof tiny);
      setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
    } else {
      ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    }
    const int flags = fcntl(fds[1], F_GETFL);
    ASSERT_EQ(fcntl(fds[1], F_SETFL, flags | O_NONBLOCK), 0);
    const std::string filler = Fill(fds[1]);
    ASSERT_FALSE(filler.empty());

    SlowReader reader(fds[0], kStall, c.chunk, c.pause);
    const int out = fds[1];
    Outcome o = RunProgram(QUORVALE_BIN, {.in_child = [out] { dup2(out, 1); }});
    // Shared with the child: had it cleared O_NONBLOCK, it shows here.
    EXPECT_EQ(fcntl(fds[1], F_GETFL), flags | O_NONBLOCK);
    close(fds[1]);
    const std::string got = reader.Finish();
    close(fds[0]);

    EXPECT_EQ(o.exit_code, 0) << Describe(o);
    EXPECT_EQ(o.err, "");
    ASSERT_EQ(got.size(), filler.size() + normal.size());
    EXPECT_EQ(got.substr(0, filler.size()), filler);
    EXPECT_EQ(got.substr(filler.size()), normal);
    // Waiting costs no CPU; a spinning program burns much of the stall.
    // The bound is relative to a plain run, which sanitizers make costly.
    const double stall = std::chrono::duration<double>(kStall).count();
    EXPECT_LT(o.cpu_seconds, NormalRun().cpu_seconds + stall / 4)
        << "the program spun while it waited";
  }
}

}  // namespace
}  // namespace quorvale::testing
