#!/bin/sh
# Installs every Debian package the build, the tests, the demo and the benchmark
# use: the union of the lists in scripts/packages/.
set -e
cd "$(dirname "$0")"
PACKAGES=$(cat packages/*.list | sed 's/#.*//' | tr -s ' \n' '  ')
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
