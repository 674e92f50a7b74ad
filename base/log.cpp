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

}  // namespace base
