// A program that leaves work for the way out: an exit handler, a static
// destructor and a thread that never ends. Linked with the programs'
// start-up, none of them may run or be waited for once main returns.

#include <stdlib.h>
#include <unistd.h>

#include <thread>

namespace {

void Say(const char* what, std::size_t n) {
  if (write(2, what, n) < 0) _exit(99);
}

struct Noisy {
  ~Noisy() { Say("destructor\n", 11); }
} noisy;

}  // namespace

int main() {
  atexit([] { Say("atexit\n", 7); });
  std::thread([] {
    for (;;) pause();
  }).detach();
  return 3;
}
