// Reporting for every subsystem: a tag and a message on stderr, the engine goes on.
#pragma once

#include <cstdarg>

namespace base {

// Prints "tag: message" and a line break to stderr.
void report(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));
void report_v(const char* tag, const char* format, va_list args) __attribute__((format(printf, 2, 0)));

// A fault that a brain can repeat on every call (a loop of them in one tick):
// the first kShown are reported, later ones only counted, and flush() reports
// how many went unreported, then starts over.
class RepeatedReport {
 public:
  static constexpr int kShown = 3;
  RepeatedReport(const char* tag, const char* message) : tag_(tag), message_(message) {}
  void note();   // one more time
  void flush();  // "tag: message: N more times" when some were only counted
  int count() const { return count_; }

 private:
  const char* tag_;
  const char* message_;
  int count_ = 0;
};

}  // namespace base
