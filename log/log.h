#ifndef QUORVALE_LOG_LOG_H_
#define QUORVALE_LOG_LOG_H_

#include "errors/errors.h"

namespace quorvale::log {

// Fatal writes err's text as one line to standard error and ends the
// process with status 1. It never returns.
[[noreturn]] void Fatal(const Error& err);

}  // namespace quorvale::log

#endif  // QUORVALE_LOG_LOG_H_
