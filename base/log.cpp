// Reporting on stderr.
#include "base/log.h"

#include <cstdarg>
#include <cstdio>

namespace base {

void report(const char* tag, const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  std::fprintf(stderr, "%s: %s\n", tag, message);
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
