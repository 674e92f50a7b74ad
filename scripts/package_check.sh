#!/bin/sh
# Packages the demo game (the demo, then the racing demo) with the command-line
# build and plays it in a fresh Debian 12 root that holds nothing of the build:
# only what a player's desktop provides (the OpenGL stack and the sound-server
# clients). The game starts headless there, moves on to level 2 and saves a
# screenshot of each level. Needs root (debootstrap, chroot) and takes a few
# minutes the first time; not part of the tests.
#
#   ./scripts/package_check.sh [ROOT]     (default /srv/zepta-player-root)
set -eu
cd "$(dirname "$0")/.."
root=${1:-/srv/zepta-player-root}
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target work demo
cd build/work
./zepta --package multilev/game.mlv zeptaexe --title "Zepta demo game"
echo "package: $(du -sb zeptaexe | cut -f1) bytes in $(find zeptaexe -type f | wc -l) files"

if [ ! -f "$root/.zepta-player-root" ]; then
  command -v debootstrap >/dev/null || apt-get install -y debootstrap
  # The machine's own Debian mirror: the first deb URI of its apt sources
  # (deb822 ".sources" files or one-line ".list" files) that serves bookworm.
  mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '
    /^URIs:/ { uri = $2 } /^Suites:/ && / bookworm( |$)/ && uri != "" { print uri; exit }')
  [ -n "$mirror" ] || mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk '
    $1 == "deb" && $3 == "bookworm" { print $2; exit }')
  [ -n "$mirror" ] || { echo "package_check: no Debian bookworm mirror in the apt sources" >&2; exit 1; }
  debootstrap --variant=minbase bookworm "$root" "$mirror"
  # What any desktop has: the OpenGL stack and the sound-server clients.
  chroot "$root" sh -c 'apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    libgl1 libegl1 libgl1-mesa-dri libasound2 libpulse0'
  touch "$root/.zepta-player-root"
fi
rm -rf "$root/game" "$root/shots"
cp -a zeptaexe "$root/game"
mkdir -p "$root/shots"
# Level 1 (the demo) goes on to level 2 with Enter at tick 60; level 2 runs on
# until the game's tick budget ends it.
printf '60 down RETURN\n62 up RETURN\n' > "$root/shots/input.txt"
# A running system has /proc: the loader finds lib/ beside the player through it.
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
trap 'umount "$root/proc" 2>/dev/null || true' EXIT
chroot "$root" env -i HOME=/root XDG_DATA_HOME=/shots/data SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null \
  sh -c 'cd /game && ./zeptaexe --fast --ticks 200 --input /shots/input.txt --dump /shots/dump.txt \
    --screenshot 30:/shots/level1.png --screenshot 150:/shots/level2.png'
ls -la "$root/shots"
head -2 "$root/shots/dump.txt"
echo "The packaged demo game ran in $root"
