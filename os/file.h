#ifndef QUORVALE_OS_FILE_H_
#define QUORVALE_OS_FILE_H_

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

// File is an open file descriptor with no buffer of its own: every Write
// goes straight to the system.
class File {
 public:
  // The system's write call; tests substitute a scripted fake.
  using WriteFunc = ssize_t (*)(int fd, const void* buf, std::size_t count);

  constexpr File(int fd, std::string_view name, WriteFunc write = nullptr)
      : fd_(fd), name_(name), write_(write) {}

  // Write hands all of data to the system. A call that the system completes
  // only in part is followed by further calls for the rest, and a call
  // interrupted by a signal is repeated, so on success n == data.size(). On
  // failure n counts the bytes written before the failing call; those stay
  // written.
  WriteResult Write(std::string_view data);

  constexpr int Fd() const noexcept { return fd_; }
  constexpr std::string_view Name() const noexcept { return name_; }

 private:
  int fd_;
  std::string_view name_;
  WriteFunc write_;  // nullptr: the system's write(2)
};

// The process's standard output and standard error, descriptors 1 and 2.
// They exist before any code of the program runs: no start-up work creates
// them.
extern constinit File Stdout;
extern constinit File Stderr;

}  // namespace quorvale::os

#endif  // QUORVALE_OS_FILE_H_
