#!/bin/sh
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test headless.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEPTA_SANITIZE=ON >/dev/null
cmake --build build-test
export SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd build-test
# A test that fails counts, with one exception: LeakSanitizer's own tracer can crash
# at exit ("Tracer caught signal") while Mesa's or OpenAL's threads come and go on a
# loaded machine; the test's own checks passed then, and it says nothing of our code.
# Only a failure whose output shows that crash is run once more, and each such rerun is
# told loudly; any other failure fails the run at once.
if ctest --output-on-failure -j2; then
  exit 0
fi
failed=Testing/Temporary/LastTestsFailed.log
log=Testing/Temporary/LastTest.log
rerun=""
real=""
for name in $(cut -d: -f2- "$failed"); do
  # The failed test's block of the log: from its "Testing:" line to the next one.
  if awk -v t="$name" '$0 ~ "^[0-9]+/[0-9]+ Testing: " { inside = ($3 == t) } inside' "$log" |
      grep -q "Tracer caught signal"; then
    rerun="$rerun $name"
  else
    real="$real $name"
  fi
done
if [ -n "$real" ]; then
  echo "FAILED:$real" >&2
  exit 1
fi
for name in $rerun; do
  echo "=== RERUN $name: LeakSanitizer's tracer crashed at its exit; running it once more ===" >&2
  ctest --output-on-failure -R "^$name\$"
done
