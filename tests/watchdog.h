// Runs of the zepta program from tests, under a watchdog: a run still going
// after its time is killed with everything it started and counts as hung, so a
// program that waits for nobody fails its test instead of stalling the suite.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace program_test {

struct WatchedRun {
  int status = -1;    // exit status; -1 when killed by a signal or hung
  bool hung = false;  // killed by the watchdog
};

// Runs command through /bin/sh in a process group of its own.
inline WatchedRun run_watched(const std::string& command, int seconds = 120) {
  WatchedRun r;
  pid_t pid = fork();
  if (pid < 0) return r;
  if (pid == 0) {
    setpgid(0, 0);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(pid, pid);  // also here: the child may not have run yet
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    int raw = 0;
    if (waitpid(pid, &raw, WNOHANG) == pid) {
      r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      return r;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &raw, 0);
      r.hung = true;
      return r;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace program_test
