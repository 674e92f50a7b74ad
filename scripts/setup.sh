#!/bin/sh
# Installs every Debian package Zepta needs to build, test and run. Idempotent.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config
libsdl2-dev libepoxy-dev libgl-dev libegl-dev libgl1-mesa-dri mesa-utils-bin zlib1g-dev
libopenal-dev libenet-dev libassimp-dev
libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
libfreetype-dev libfontconfig-dev xfonts-base fonts-dejavu-core
libgtest-dev libgmock-dev libbenchmark-dev libcapstone-dev
liblua5.4-dev libluajit-5.1-dev
xvfb iproute2
"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
