#ifndef QUORVALE_OS_FILE_H_
#define QUORVALE_OS_FILE_H_

#include <poll.h>
#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <string_view>

#include "errors/errors.h"

namespace quorvale::os {

// The result of File::Write: how many bytes reached the system, and an
// Error that is empty exactly when all of them did.
struct WriteResult {
  std::size_t n = 0;
  Error err;
};

// The system calls that File makes, for tests to replace with scripted
// fakes. Each member has the signature of the call it stands for.
struct Syscalls {
  ssize_t (*write)(int fd, const void* buf, std::size_t count);
  int (*poll)(pollfd* fds, nfds_t nfds, int timeout);
  int (*pthread_sigmask)(int how, const sigset_t* set, sigset_t* old);
  int (*raise)(int sig);
  sighandler_t (*signal)(int sig, sighandler_t handler);
  void (*exit)(int status);  // the real one never returns
};

// File is an open file descriptor with no buffer of its own: every Write
// goes straight to the system.
class File {
 public:
  // A File whose calls go to `sys`; nullptr means the system itself.
  constexpr File(int fd, std::string_view name, const Syscalls* sys = nullptr)
      : fd_(fd), name_(name), sys_(sys) {}

  // Write hands all of data to the system. A call that the system completes
  // only in part is followed by further calls for the rest, and a call
  // interrupted by a signal is repeated, so on success n == data.size(). On
  // failure n counts the bytes written before the failing call; those stay
  // written.
  //
  // A descriptor in non-blocking mode that cannot take data now (EAGAIN) is
  // waited on with poll(2) until it can; its flags are left as they are,
  // since other processes may share them.
  //
  // A broken pipe (EPIPE) on descriptor 1 or 2 does not return: the process
  // ends killed by SIGPIPE, silently, as a Unix filter does when its reader
  // goes away, even when SIGPIPE is ignored or blocked. Should the default
  // action of SIGPIPE not end it either, it exits with status 2. On any
  // other descriptor a broken pipe is an ordinary failure.
  WriteResult Write(std::string_view data);

  constexpr int Fd() const noexcept { return fd_; }
  constexpr std::string_view Name() const noexcept { return name_; }

 private:
  int fd_;
  std::string_view name_;
  const Syscalls* sys_;  // nullptr: direct system calls
};

// The process's standard output and standard error, descriptors 1 and 2.
// They exist before any code of the program runs: no start-up work creates
// them.
extern constinit File Stdout;
extern constinit File Stderr;

}  // namespace quorvale::os

#endif  // QUORVALE_OS_FILE_H_
