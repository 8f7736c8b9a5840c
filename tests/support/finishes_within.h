// Runs a piece of a test in a child process with a time limit, to catch
// hangs and quadratic blow-ups (the limit is generous, never a measurement).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace testing_support {

// True when work finished within seconds and returned true; a crash or a
// hang of the child gives false.
template <typename F>
bool FinishesWithin(unsigned seconds, F work) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    alarm(seconds);
    _exit(work() ? 0 : 1);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace testing_support
