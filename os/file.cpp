#include "os/file.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace quorvale::os {

constinit File Stdout(1, "/dev/stdout");
constinit File Stderr(2, "/dev/stderr");

namespace {

// The calls of a File made without fakes: the system's own.
constexpr Syscalls kSystem = {::write, ::poll,   ::pthread_sigmask,
                              ::raise, ::signal, ::_exit};

Error WriteError(std::string_view name, int sys_errno) {
  std::string text = "write ";
  text += name;
  text += ": ";
  // strerrordesc_np: the plain English text, with no locale machinery.
  const char* desc = strerrordesc_np(sys_errno);
  text += desc != nullptr ? desc : "unknown error";
  return Error(std::move(text), sys_errno);
}

// Waits until fd can take data. Returns 0, or the errno of a failed poll.
int AwaitWritable(const Syscalls& sys, int fd) {
  pollfd p = {fd, POLLOUT, 0};
  for (;;) {
    int r = sys.poll(&p, 1, -1);
    if (r > 0) return 0;  // readiness, or an error that the next write shows
    if (r < 0 && errno != EINTR) return errno;
  }
}

// Ends the process the way the reader of a broken pipe expects: killed by
// SIGPIPE. The signal's disposition and mask are the ones the process
// started with, since nothing in the program changes either; so they need
// no recording at start-up, and raising under the current disposition is
// raising under the start one.
void EndByBrokenPipe(const Syscalls& sys) {
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  // A blocked SIGPIPE that the write left pending is delivered here.
  sys.pthread_sigmask(SIG_UNBLOCK, &pipe_only, nullptr);
  sys.raise(SIGPIPE);
  // Still here: SIGPIPE was ignored.
  sys.signal(SIGPIPE, SIG_DFL);
  sys.raise(SIGPIPE);
  sys.exit(2);
}

}  // namespace

WriteResult File::Write(std::string_view data) {
  const Syscalls& sys = sys_ != nullptr ? *sys_ : kSystem;
  std::size_t done = 0;
  while (done < data.size()) {
    const char* rest = data.data() + done;
    std::size_t count = data.size() - done;
    ssize_t n = sys.write(fd_, rest, count);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    // A write of a non-empty buffer that takes nothing and reports no error
    // would repeat forever; treat it as a failure of the device.
    int sys_errno = n < 0 ? errno : EIO;
    if (sys_errno == EINTR) continue;
    if (sys_errno == EAGAIN || sys_errno == EWOULDBLOCK) {
      sys_errno = AwaitWritable(sys, fd_);
      if (sys_errno == 0) continue;
    }
    if (sys_errno == EPIPE && (fd_ == 1 || fd_ == 2)) {
      EndByBrokenPipe(sys);
      // Only a test's fake system calls return to here.
    }
    return {done, WriteError(name_, sys_errno)};
  }
  return {done, Error()};
}

}  // namespace quorvale::os
