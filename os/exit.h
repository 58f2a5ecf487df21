#ifndef QUORVALE_OS_EXIT_H_
#define QUORVALE_OS_EXIT_H_

namespace quorvale::os {

// Exit ends the process at once with the given status, all of its threads
// with it (exit_group). Nothing else runs first: no destructors, no atexit
// handlers, no flush, no wait for another thread.
[[noreturn]] void Exit(int status);

}  // namespace quorvale::os

#endif  // QUORVALE_OS_EXIT_H_
