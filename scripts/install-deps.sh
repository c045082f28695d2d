#!/bin/sh
# Installs every Debian package the build, the tests, the demo and the benchmark use.
set -e
PACKAGES="build-essential cmake pkg-config clang libclang-rt-14-dev googletest libgtest-dev
  libcups2-dev libcupsimage2-dev libjbig-dev libpng-dev"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
