#!/bin/sh
# A quick check that a build prints, for builds that run no test suite (the
# Debian package's): the built filter prints a raster job made with libcups's
# writer (three 24-bit A6 pages, two-sided, two collated copies, so the spool
# file and the page order are used), and the printer job is decoded with
# zelvar-inspect: well formed, every page libjbig's stream of it, the pages in
# the printer's order read back from their page marks, a PAGE: line per record.
# It takes a second or two.
#
#   built_filter_check.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
for p in rastertoZelvar zelvar-inspect zelvar-make-raster zelvar-pbm-probe; do
  [ -x "$build/$p" ] || { echo "FAIL: $build/$p is not built"; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/zelvar-built-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
. "$src/tests/e2e/e2e_common.sh"
. "$src/tests/e2e/inspect_job.sh"

e2e_case "the built filter prints a two-sided job with collated copies"
"$build/zelvar-make-raster" --out "$work/job.ras" --pages 3 --size a6 --dpi 300 --depth 24 \
  --content mark --margins --duplex --copies 2 --collate || exit 1
"$build/rastertoZelvar" 1 user "built filter check" 2 "Collate=true" "$work/job.ras" \
  >"$work/job.prn" 2>"$work/job.log"
check "the filter exits with status 0" eq "$?" 0
inspect_job job
check "well formed (zelvar-inspect)" eq "$INSPECT_RC" 0
check "every page is libjbig's stream of it" eq "$REENCODE_DIFFS" 0
# The printer takes the back of each sheet first; the third page gets a blank back.
check "pages in the printer's order, each copy whole" eq "$(marks job)" "1 0 B 2 1 0 B 2"
check "a PAGE: line per record" eq "$(grep -c '^PAGE: ' "$work/job.log")" 8
check "two-sided in the job's settings" eq "$(pjl job DUPLEX)" ON
e2e_finish || { cat "$work/job.log" "$work/job/inspect.txt"; exit 1; }
