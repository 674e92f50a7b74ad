// A watchdog for cases that once hung: the test process fails with a message
// when the guarded scope has not ended after a generous number of seconds.
// It measures nothing; it only turns a hang into a failure.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
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

}  // namespace test_support
