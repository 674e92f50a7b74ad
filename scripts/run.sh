#!/bin/sh
# Sets up, builds and starts Zepta in its working folder (headless when there is no display).
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export SDL_VIDEODRIVER="${SDL_VIDEODRIVER:-offscreen}"
  export ALSOFT_DRIVERS="${ALSOFT_DRIVERS:-null}"
fi
cd build/work
exec ./zepta "$@"
