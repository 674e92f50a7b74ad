// Process entry of the engine program. No exception leaves it: the last
// resort says what happened in one line and exits with status 6.
#include <exception>

#include "shell/shell.h"

int main(int argc, char** argv) {
  std::set_terminate(shell::terminate_with_report);
  try {
    return shell::run_program(argc, argv);
  } catch (...) {
    return shell::report_escaped(std::current_exception(), stderr);
  }
}

#if defined(__SANITIZE_ADDRESS__)
// LeakSanitizer reads this in sanitized builds: libdbus keeps a buffer that
// SDL's D-Bus use allocates, also where no display answers (platform/lsan.supp).
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
