#!/bin/sh
# Builds the benchmarks optimised and prints Zepta beside the alternatives as one
# table (brain execution and compilation beside Lua 5.4 and LuaJIT, a full tick,
# start-up, the polygon collision test, rendering beside direct OpenGL, memory,
# a key in the text editor, the packaged demo game). With --all it then runs the
# engine's Google Benchmark suites too; --hostile prints only the row of hostile
# brains (the worst tick of brains written to stall it), --editor only the text
# editor's row. Takes a few minutes; not part of the tests.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEPTA_TESTS=OFF >/dev/null
cmake --build build-bench
data="$PWD/build-bench/work/data"
[ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || export SDL_VIDEODRIVER="${SDL_VIDEODRIVER:-offscreen}"
export ALSOFT_DRIVERS="${ALSOFT_DRIVERS:-null}"
echo
echo "| measure | Zepta | alternative | alternative's figure | alternative / Zepta |"
echo "|---|---|---|---|---|"
if [ "${1:-}" = "--hostile" ] || [ "${1:-}" = "--editor" ]; then
  cd build-bench/work && ZEPTA_TEST_DATA="$data" ../bench/zepta_bench_table ./zepta "$1"
  exit
fi
for b in zepta_bench_lua54 zepta_bench_luajit; do
  [ -x "build-bench/bench/$b" ] && "build-bench/bench/$b" "$data"
done
cd build-bench/work  # the programs play the demo project from here
ZEPTA_TEST_DATA="$data" ../bench/zepta_bench_table ./zepta
# The demo game's package (the player, its lib/ and two levels) beside the size of
# a Godot 4 Linux export of a small game.
pkg=$(mktemp -d)
if ./zepta --package multilev/game.mlv "$pkg" --title "Zepta demo game" >/dev/null; then
  awk -v b="$(du -sb "$pkg" | cut -f1)" 'BEGIN { m = b / 1048576
    printf "| packaged demo game (player, lib/, two levels), MB | %.1f | Godot 4 export, Linux | 30-40 | %.1f-%.1fx |\n", m, 30 / m, 40 / m }'
else
  echo "| packaged demo game, MB | THE BUILD FAILED | - | - | - |"
fi
rm -rf "$pkg"
[ "${1:-}" = "--all" ] || exit 0
echo
for b in zepta_bench_brain zepta_bench_engine zepta_bench_collide zepta_bench_race zepta_bench_render zepta_bench_sound zepta_bench_browser; do
  ZEPTA_TEST_DATA="$data" "../bench/$b" --benchmark_min_time=1
done
