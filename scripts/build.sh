#!/bin/sh
# Builds one configuration: scripts/build.sh DIR [SANITIZERS]
set -e
dir=${1:-build}
san=${2:-}
cmake -S "$(dirname "$0")/.." -B "$dir" -DZELVAR_SANITIZE="$san" >/dev/null
cmake --build "$dir" -j"$(nproc)"
