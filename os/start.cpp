// The end of the C++ start-up. When main returns, the C library would call
// exit(3), which runs exit handlers and destructors while the program's
// background threads still run. Programs are linked with --wrap=main (the
// quorvale_start library), so the start-up calls this instead: main runs
// as usual, and its status ends the process at once, through exit_group.

#include "os/exit.h"

// The linker's --wrap gives these names: __real_main is the program's own
// main, __wrap_main what the start-up calls in its place.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" int __real_main(int argc, char** argv);

extern "C" int __wrap_main(int argc, char** argv) {
  quorvale::os::Exit(__real_main(argc, argv));
}
// NOLINTEND(bugprone-reserved-identifier)
