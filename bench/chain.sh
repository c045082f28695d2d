#!/bin/sh
# The chain benchmark: bench/chain.sh [BUILD_DIR] [--runs N] [--stage-runs N] [--pages N]
# Prints two PDFs (pages of a real one, and a photo-like one made here) through
# the whole CUPS filter chain with cupsfilter, for this driver and for the peer
# drivers SpliX and brlaser (scripts/packages/bench.list), and prints the
# figures of each chain and stage.  Builds what it needs in BUILD_DIR (default
# build/); its scratch directory is removed afterwards.
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
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" -j2 --target rastertoZelvar zelvar-inspect >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/zelvar-chain.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
python3 "$root/bench/chain.py" "$build" "$work" "$@"
