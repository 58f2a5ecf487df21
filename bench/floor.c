/* The floor: the least a program can do and still do what quorvale does on
 * a normal run. It writes three lines of build identification, one write
 * each, and starts one detached thread that waits for work that never
 * comes, as quorvale's database handle starts its connection opener. */
#include <pthread.h>
#include <unistd.h>

static const char kLines[] =
    "Version ...........:  0.0.2\n"
    "Git commit hash ...:  0000000000000000000000000000000000000000\n"
    "Build date/time ...:  20000101T000000Z\n";

static void* Wait(void* arg) {
  pause();
  return arg;
}

int main(void) {
  const char* line = kLines;
  static const int kLengths[3] = {28, 63, 39};
  for (int i = 0; i < 3; i++) {
    if (write(1, line, (size_t)kLengths[i]) != kLengths[i]) return 1;
    line += kLengths[i];
  }
  pthread_t worker;
  if (pthread_create(&worker, NULL, Wait, NULL) != 0) return 1;
  pthread_detach(worker);
  return 0;
}
