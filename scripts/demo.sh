#!/bin/sh
# Prints the built-in sample document (scripts/demo/sample.ps, three pages) as a
# CUPS server prints it: a private cupsd with a queue for the Zelvar PPD turns
# the PDF into CUPS raster with cups-filters (pdftopdf, gstoraster) and runs
# rastertoZelvar on it; the queue's device is a file.  The printer job, its
# pages decoded into PNG images and the inspector's report go to demo-output/.
#
#   scripts/demo.sh [LP-OPTION...]     e.g. scripts/demo.sh -o PrintMode=BlackRed
#
# Exit status 0 when the job printed cleanly and the inspector accepted the
# printer job, 1 otherwise.  ZELVAR_DEMO_PPD names another PPD for the queue
# (ppd/zelvar.ppd by default).
#
# It installs the dependencies and builds first.  cupsd runs as root (it starts
# the filters as user lp); run as another user, the demo asks sudo for that part.
set -eu
cd "$(dirname "$0")/.."
src=$(pwd)
out=$src/demo-output

if [ "${1:-}" != --print-as-root ]; then
  scripts/install-deps.sh
  scripts/build.sh build
  if [ "$(id -u)" -ne 0 ]; then
    echo "The private CUPS scheduler must run as root: continuing with sudo."
    exec sudo "$0" --print-as-root "$(id -u):$(id -g)" "$@"
  fi
  set -- --print-as-root "" "$@"
fi
owner=$2
shift 2

PATH=$PATH:/usr/sbin:/sbin
. "$src/tests/e2e/cupsd_env.sh"
work=$(mktemp -d /tmp/zelvar-demo.XXXXXX)
chmod 0755 "$work"
# Stopping the scheduler and removing the scratch directory never change the
# status the demo exits with.
trap 'status=$?; cupsd_stop || :; rm -rf "$work" || :; exit $status' EXIT
trap 'exit 1' INT TERM

rm -rf "$out"
mkdir -p "$out/pages"
ps2pdf -dAutoRotatePages=/None "$src/scripts/demo/sample.ps" "$out/sample.pdf"
cp "$out/sample.pdf" "$work/sample.pdf"
chmod 0644 "$work/sample.pdf"

echo "Starting a private CUPS scheduler in $work"
cupsd_start "$work/cups" "$src/build/rastertoZelvar"
cupsd_add_queue zelvar "${ZELVAR_DEMO_PPD:-$src/ppd/zelvar.ppd}" "$work/cups/out/zelvar.prn"
echo "Printing sample.pdf: lp -d zelvar $*"
cupsd_submit zelvar -t "Zelvar sample document" "$@" "$work/sample.pdf"
cupsd_wait_job "$JOB_ID" 120 || true
cp "$work/cups/out/zelvar.prn" "$out/sample.prn"
cupsd_job_log "$JOB_ID" >"$out/cups-job.log"
inspected=0
"$src/build/zelvar-inspect" --decode "$out/pages" "$out/sample.prn" >"$out/inspect.txt" 2>&1 ||
  inspected=$?
rm -f "$out/pages"/*.pbm
if [ -n "$owner" ]; then chown -R "$owner" "$out"; fi

echo "Job $JOB_ID $JOB_STATE, $JOB_IMPRESSIONS pages reported by the filter."
echo "  the document:          $out/sample.pdf"
echo "  the printer job:       $out/sample.prn ($(wc -c <"$out/sample.prn") bytes)"
echo "  its decoded pages:     $(for f in "$out/pages"/*.png; do printf '%s ' "$f"; done)"
echo "  the inspector's report: $out/inspect.txt"
echo "  the scheduler's log of the job (filter messages included): $out/cups-job.log"
if [ "$JOB_STATE" != completed ] || [ "$inspected" -ne 0 ]; then
  echo "The job did not print cleanly (job $JOB_STATE, inspector status $inspected)." >&2
  exit 1
fi
echo "The job printed cleanly."
