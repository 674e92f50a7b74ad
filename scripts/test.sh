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
# LeakSanitizer's tracer can itself crash at exit ("Tracer caught signal 11") while
# Mesa's or OpenAL's threads come and go on a loaded machine: a test that fails is
# run once more, and only a second failure counts.
ctest --output-on-failure -j2 --repeat until-pass:2
