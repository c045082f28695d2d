#!/bin/sh
# The benchmark: bench/run.sh [BUILD_DIR] [--runs N] [--jobs J1,J2,...] [--encoders]
#                bench/run.sh [BUILD_DIR] --chain [--runs N] [--stage-runs N] [--pages N]
# Builds what it needs in BUILD_DIR (default build/, RelWithDebInfo), generates the
# jobs in a scratch directory and prints the figures of each job; with --encoders
# it compares the filter's own JBIG encoder with libjbig's on J2 and J3 instead.
# With --chain it prints PDFs through the whole CUPS filter chain for this driver
# and the peer drivers (bench/chain.py).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
case ${1:-} in
-* | "") ;;
*)
  build=$1
  shift
  ;;
esac
script=bench.py
if [ "${1:-}" = --chain ]; then
  script=chain.py
  shift
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" -j2 --target rastertoZelvar zelvar-inspect zelvar-make-raster \
  zelvar-jbig-bench >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/zelvar-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
python3 "$root/bench/$script" "$build" "$work" "$@"
