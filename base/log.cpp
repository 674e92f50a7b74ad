// Reporting on stderr.
#include "base/log.h"

#include <cstdarg>
#include <cstdio>

namespace base {

void report_v(const char* tag, const char* format, va_list args) {
  char message[2048];
  std::vsnprintf(message, sizeof message, format, args);
  std::fprintf(stderr, "%s: %s\n", tag, message);
}

void report(const char* tag, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_v(tag, format, args);
  va_end(args);
}

void RepeatedReport::note() {
  if (count_ < kShown) report(tag_, "%s", message_);
  if (count_ < 0x7fffffff) ++count_;
}

void RepeatedReport::flush() {
  if (count_ > kShown) report(tag_, "%s: %d more times", message_, count_ - kShown);
  count_ = 0;
}

}  // namespace base
