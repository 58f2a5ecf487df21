#include "os/file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace quorvale::os {

constinit File Stdout(1, "/dev/stdout");
constinit File Stderr(2, "/dev/stderr");

namespace {

Error WriteError(std::string_view name, int sys_errno) {
  std::string text = "write ";
  text += name;
  text += ": ";
  // strerrordesc_np: the plain English text, with no locale machinery.
  const char* desc = strerrordesc_np(sys_errno);
  text += desc != nullptr ? desc : "unknown error";
  return Error(std::move(text), sys_errno);
}

}  // namespace

WriteResult File::Write(std::string_view data) {
  WriteFunc write = write_ != nullptr ? write_ : ::write;
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd_, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A write of a non-empty buffer that takes nothing and reports no error
    // would repeat forever; treat it as a failure of the device.
    int sys_errno = n < 0 ? errno : EIO;
    return {done, WriteError(name_, sys_errno)};
  }
  return {done, Error()};
}

}  // namespace quorvale::os
