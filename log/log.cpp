#include "log/log.h"

#include <string>

#include "os/exit.h"
#include "os/file.h"

namespace quorvale::log {

void Fatal(const Error& err) {
  std::string line(err.Text());
  if (line.empty() || line.back() != '\n') line += '\n';
  os::Stderr.Write(line);
  os::Exit(1);
}

}  // namespace quorvale::log
