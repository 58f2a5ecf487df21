#include "log/log.h"

#include <cstdint>
#include <type_traits>

#include "os/exit.h"

namespace quorvale::log {

namespace {

// Appends v in decimal, zero-filled on the left to at least width digits.
void AppendNumber(std::string& out, std::uint64_t v, int width) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (int i = n; i < width; ++i) out += '0';
  while (n > 0) out += digits[--n];
}

// Constant-initialised and trivially destructible: it costs start-up
// nothing and is still there for a line logged during exit.
constinit Logger std_logger(os::Stderr);
static_assert(std::is_trivially_destructible_v<Logger>);

}  // namespace

void FormatHeader(std::string& out, time::Time t, const time::Zone& zone) {
  const time::Civil c = time::CivilFromSeconds(t.sec, zone.Lookup(t.sec).utoff);
  std::uint64_t year = static_cast<std::uint64_t>(c.year);
  if (c.year < 0) {
    out += '-';
    year = 0 - year;
  }
  AppendNumber(out, year, 4);
  out += '/';
  AppendNumber(out, static_cast<std::uint64_t>(c.month), 2);
  out += '/';
  AppendNumber(out, static_cast<std::uint64_t>(c.day), 2);
  out += ' ';
  AppendNumber(out, static_cast<std::uint64_t>(c.hour), 2);
  out += ':';
  AppendNumber(out, static_cast<std::uint64_t>(c.minute), 2);
  out += ':';
  AppendNumber(out, static_cast<std::uint64_t>(c.second), 2);
  out += ' ';
}

Error Logger::Output(std::string_view message) {
  const time::Time now = now_();
  std::lock_guard<std::mutex> lock(mu_);
  std::string line;
  line.reserve(32 + message.size());
  FormatHeader(line, now, zone_());
  line += message;
  if (message.empty() || message.back() != '\n') line += '\n';
  return out_.Write(line).err;
}

void Fatal(const Error& err) {
  std_logger.Output(err.Text());
  os::Exit(1);
}

}  // namespace quorvale::log
