#!/bin/bash
# Installs the dependencies, builds the filter and runs it on a built-in sample job
# as the CUPS scheduler would: queue name as argv[0], then job id, user, title,
# copies, options and the raster file.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
out=demo-output
mkdir -p "$out"
build/zelvar-make-raster --out "$out/sample.ras" --pages 3 --content text
status=0
(exec -a demo build/rastertoZelvar 1 "$(id -un)" "Sample job" 1 "" "$out/sample.ras") \
  >"$out/sample.prn" 2>"$out/filter.log" || status=$?
echo "printer job: $out/sample.prn ($(wc -c <"$out/sample.prn") bytes); filter log: $out/filter.log"
echo "filter exit status: $status"
exit "$status"
