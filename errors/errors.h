#ifndef QUORVALE_ERRORS_ERRORS_H_
#define QUORVALE_ERRORS_ERRORS_H_

#include <string>
#include <string_view>
#include <utility>

namespace quorvale {

// Error is the failure result of an operation that can fail. A
// default-constructed Error means success; any other carries the text that
// describes the failure and, when the failure came from a system call, its
// errno value.
//
//   auto [n, err] = os::Stdout.Write(line);
//   if (err) { ... err.Text() ... }
class Error {
 public:
  constexpr Error() = default;
  explicit Error(std::string text, int sys_errno = 0)
      : failed_(true), sys_errno_(sys_errno), text_(std::move(text)) {}

  // True when this value reports a failure.
  constexpr explicit operator bool() const noexcept { return failed_; }

  // The failure's text; empty for success.
  std::string_view Text() const noexcept { return text_; }

  // The errno value of a failed system call; 0 when there was none.
  constexpr int Errno() const noexcept { return sys_errno_; }

 private:
  bool failed_ = false;
  int sys_errno_ = 0;
  std::string text_;
};

}  // namespace quorvale

#endif  // QUORVALE_ERRORS_ERRORS_H_
