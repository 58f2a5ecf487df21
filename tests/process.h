#ifndef QUORVALE_TESTS_PROCESS_H_
#define QUORVALE_TESTS_PROCESS_H_

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvale::testing {

// How a child process ended and what it wrote.
struct Outcome {
  std::string out;         // all it wrote to standard output
  std::string err;         // all it wrote to standard error
  int exit_code = -1;      // its status, when it exited
  int signal = 0;          // the signal that killed it, when one did
  double cpu_seconds = 0;  // the user and system CPU time it used
};

struct RunOptions {
  std::vector<std::string> args;  // after argv[0]
  std::string input;              // its standard input, from a file
  // The environment; unset means the test's own.
  std::optional<std::vector<std::string>> env;
  // Runs in the child just before exec, after descriptors 0, 1 and 2 are
  // set up and SIGPIPE is back at its default action: a test changes the
  // child's start state here (signal dispositions, a different stdout).
  std::function<void()> in_child;
};

// Runs the program at path to its end and collects its output. Fails the
// current test (and returns a default Outcome) when it cannot be started.
Outcome RunProgram(const std::string& path, const RunOptions& options = {});

// A description of how a child ended, for failure messages.
std::string Describe(const Outcome& o);

}  // namespace quorvale::testing

#endif  // QUORVALE_TESTS_PROCESS_H_
