// Reporting for every subsystem: a tag and a message on stderr, the engine goes on.
#pragma once

namespace base {

// Prints "tag: message" and a line break to stderr.
void report(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace base
