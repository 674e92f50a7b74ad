// Watchdogs for cases that once hung: the test process fails with a message
// when the guarded scope has not ended after a generous number of seconds, and
// a run of the zepta program still going after its time is killed with
// everything it started and counts as hung. They measure nothing; they only
// turn a hang into a failure.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace test_support {

class Watchdog {
 public:
  Watchdog(const char* what, int seconds) : what_(what), seconds_(seconds), thread_([this] { watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    ended_.notify_one();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  void watch() {
    std::unique_lock lock(mutex_);
    if (ended_.wait_for(lock, std::chrono::seconds(seconds_), [this] { return done_; })) return;
    std::fprintf(stderr, "watchdog: %s still running after %d s\n", what_, seconds_);
    std::fflush(stderr);
    std::abort();
  }

  const char* what_;
  int seconds_;
  std::mutex mutex_;
  std::condition_variable ended_;
  bool done_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

// A run of a command under the watchdog.
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

}  // namespace test_support
