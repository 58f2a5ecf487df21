#include "tests/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

extern char** environ;

namespace quorvale::testing {
namespace {

// Drains both pipes until the child has closed them.
void Collect(int out_fd, int err_fd, Outcome& o) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&o.out, &o.err};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      ADD_FAILURE() << "poll: " << std::strerror(errno);
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

Outcome RunProgram(const std::string& path, const RunOptions& options) {
  Outcome o;
  int input = memfd_create("input", MFD_CLOEXEC);
  int out[2], err[2];
  if (input < 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "cannot set up the child's streams";
    return o;
  }
  if (write(input, options.input.data(), options.input.size()) !=
          static_cast<ssize_t>(options.input.size()) ||
      lseek(input, 0, SEEK_SET) != 0) {
    ADD_FAILURE() << "cannot write the child's input";
    return o;
  }

  std::vector<std::string> argv_s{path};
  argv_s.insert(argv_s.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  argv.reserve(argv_s.size() + 1);
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_s;
  std::vector<char*> envp;
  if (options.env) {
    env_s = *options.env;
    for (auto& e : env_s) envp.push_back(e.data());
    envp.push_back(nullptr);
  }

  pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return o;
  }
  if (pid == 0) {
    dup2(input, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (options.in_child) options.in_child();
    execve(path.c_str(), argv.data(), options.env ? envp.data() : environ);
    _exit(127);
  }
  close(input);
  close(out[1]);
  close(err[1]);
  Collect(out[0], err[0], o);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  o.cpu_seconds =
      static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) /
          1e6;
  if (WIFEXITED(status)) o.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) o.signal = WTERMSIG(status);
  return o;
}

std::string Describe(const Outcome& o) {
  std::string s = o.signal != 0
                      ? "killed by signal " + std::to_string(o.signal)
                      : "exited with status " + std::to_string(o.exit_code);
  return s + "; stderr: \"" + o.err + "\"";
}

}  // namespace quorvale::testing
