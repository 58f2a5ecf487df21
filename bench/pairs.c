/* Runs two programs alternately, each with standard output and standard
 * error on /dev/null, and prints the median wall time of each and the
 * median ratio of the pairs, then the largest peak resident set of each.
 *
 *   pairs RUNS PROGRAM_A PROGRAM_B
 *
 * A pair is one run of each, started back to back, the order swapped from
 * one pair to the next so that neither always runs on a warmer machine.
 * This runner is itself small and statically linked: a forked child's peak
 * resident set includes what it inherited before exec, so a large runner
 * would inflate the figures it reports. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

struct run {
  double seconds;
  long max_rss_kib;
};

static struct run Run(const char* path) {
  struct run r = {0, 0};
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = fork();
  if (pid < 0) {
    perror("fork");
    exit(2);
  }
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    char* argv[] = {(char*)path, NULL};
    execve(path, argv, environ);
    _exit(127);
  }
  int status;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) {
    perror("wait4");
    exit(2);
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "pairs: %s did not exit with status 0\n", path);
    exit(2);
  }
  r.seconds = (double)(end.tv_sec - start.tv_sec) +
              (double)(end.tv_nsec - start.tv_nsec) / 1e9;
  r.max_rss_kib = usage.ru_maxrss;
  return r;
}

static int Compare(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

static double Median(double* v, int n) {
  qsort(v, (size_t)n, sizeof *v, Compare);
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int main(int argc, char** argv) {
  if (argc != 4 || atoi(argv[1]) < 1) {
    fprintf(stderr, "usage: pairs RUNS PROGRAM_A PROGRAM_B\n");
    return 2;
  }
  int n = atoi(argv[1]);
  double* a = calloc((size_t)n, sizeof *a);
  double* b = calloc((size_t)n, sizeof *b);
  double* ratio = calloc((size_t)n, sizeof *ratio);
  long rss_a = 0, rss_b = 0;
  if (!a || !b || !ratio) return 2;
  /* Warm the page cache and the branch predictors before counting. */
  for (int i = 0; i < 20; i++) {
    Run(argv[2]);
    Run(argv[3]);
  }
  for (int i = 0; i < n; i++) {
    struct run ra, rb;
    if (i % 2) {
      rb = Run(argv[3]);
      ra = Run(argv[2]);
    } else {
      ra = Run(argv[2]);
      rb = Run(argv[3]);
    }
    a[i] = ra.seconds;
    b[i] = rb.seconds;
    ratio[i] = ra.seconds / rb.seconds;
    if (ra.max_rss_kib > rss_a) rss_a = ra.max_rss_kib;
    if (rb.max_rss_kib > rss_b) rss_b = rb.max_rss_kib;
  }
  printf("median_us_a %.1f\nmedian_us_b %.1f\nmedian_pair_ratio %.3f\n",
         Median(a, n) * 1e6, Median(b, n) * 1e6, Median(ratio, n));
  printf("max_rss_kib_a %ld\nmax_rss_kib_b %ld\n", rss_a, rss_b);
  return 0;
}
