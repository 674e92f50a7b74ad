#!/bin/sh
# Sets up, builds and starts Zepta in its working folder. Without arguments it
# plays the demo project: in a window when there is a display, otherwise
# headless for 150 ticks, saving the picture of tick 100 as build/work/demo.png.
# A demo's name as the only argument plays that demo instead ("racing").
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only what a run needs: the program, the data generator and the working folder
# with the demo projects (scripts/test.sh builds the tests, bench/run.sh the benchmarks).
cmake --build build --target work demo
cd build/work
demo=demo
if [ $# -eq 1 ] && [ -f "projects/$1/$1.prj" ]; then
  demo=$1
  shift
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export SDL_VIDEODRIVER="${SDL_VIDEODRIVER:-offscreen}"
  export ALSOFT_DRIVERS="${ALSOFT_DRIVERS:-null}"
  if [ $# -eq 0 ]; then
    ./zepta --ticks 150 --screenshot "100:$demo.png" "projects/$demo/$demo.prj"
    echo "Saved $(pwd)/$demo.png"
    exit 0
  fi
fi
[ $# -eq 0 ] && set -- --windowed "projects/$demo/$demo.prj"
exec ./zepta "$@"
