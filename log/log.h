#ifndef QUORVALE_LOG_LOG_H_
#define QUORVALE_LOG_LOG_H_

#include <mutex>
#include <string>
#include <string_view>

#include "errors/errors.h"
#include "os/file.h"
#include "time/local.h"
#include "time/time.h"

namespace quorvale::log {

// FormatHeader appends the date-and-time header of a log line for instant
// t, read on zone's clock: "YYYY/MM/DD HH:MM:SS " (20 bytes). The year has
// at least four digits, zero-filled, and all of them after 9999 (a '-'
// leads a year before 1 BC); the fraction of the second is dropped, never
// rounded up.
void FormatHeader(std::string& out, time::Time t, const time::Zone& zone);

// Logger writes log lines, each a date-and-time header in the local zone
// followed by the message, in one write to its file. Its settings are
// fixed when it is made. Safe to use from any thread.
class Logger {
 public:
  using NowFunc = time::Time (*)();
  using ZoneFunc = const time::Zone& (*)();

  // A logger that writes to out. Tests give it their own clock and zone.
  constexpr explicit Logger(os::File& out, NowFunc now = time::Now,
                            ZoneFunc zone = time::Local)
      : out_(out), now_(now), zone_(zone) {}
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Output writes one line: the header for the current instant, message,
  // and a line feed unless message already ends in one. The clock is read
  // before the logger's lock is taken; the lock is held until the write
  // has returned, whose error Output returns.
  Error Output(std::string_view message);

 private:
  std::mutex mu_;
  os::File& out_;
  NowFunc now_;
  ZoneFunc zone_;
};

// Fatal writes err's text through the standard logger (standard error,
// local date and time), ignoring whether the write succeeds, and ends the
// process with status 1 at once (os::Exit): no destructors, exit handlers
// or flushes run. It never returns.
//
//   if (err) log::Fatal(err);
[[noreturn]] void Fatal(const Error& err);

}  // namespace quorvale::log

#endif  // QUORVALE_LOG_LOG_H_
