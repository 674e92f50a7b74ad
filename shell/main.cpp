// Process entry of the engine program.
#include <cstdio>

int main() {
  std::puts("Zepta 5.2");
  return 0;
}
