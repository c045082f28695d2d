#!/bin/sh
# A CUPS scheduler without the driver's PPD printing through the Printer
# Application: a private cupsd with a driverless queue (lpadmin -m everywhere) on
# a private zelvar-printer-app, PDFs printed with lp, rendered by cups-filters to
# PWG raster and sent over IPP; every printer job read back with zelvar-inspect,
# page by page.
#
#   run_app_cups.sh BUILD_DIR SOURCE_DIR
#
# Exit status 0 when every check passed, 1 otherwise, 77 when it cannot run here
# (not root).  ZELVAR_E2E_KEEP=1 keeps the scratch directory.
set -u
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$src/tests/e2e/cupsd_env.sh"
. "$src/tests/e2e/e2e_common.sh"
. "$src/tests/e2e/app_env.sh"
. "$src/tests/e2e/app_jobs.sh"
. "$src/tests/e2e/inspect_job.sh"
e2e_require
app_require
for p in rastertoZelvar zelvar-printer-app zelvar-inspect zelvar-pbm-probe; do
  [ -x "$build/$p" ] || { echo "FAIL: $build/$p is not built"; exit 1; }
done

work=$(mktemp -d /tmp/zelvar-app-cups.XXXXXX)
chmod 0755 "$work"
cleanup() {
  cupsd_stop
  app_stop
  if [ "${ZELVAR_E2E_KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

app_start "$work/app" "$build/zelvar-printer-app" "$build/rastertoZelvar" || exit 1
app_add_printer z "$work/out" || exit 1
app_uri=$PRINTER_URI
cupsd_start "$work/cups" || exit 1
# The queue the way a user adds one for an IPP Everywhere printer: CUPS asks the
# printer what it can do and makes the queue's options from that.
lpadmin -p z -E -v "$APP_URI_BASE/ipp/print" -m everywhere 2>"$work/lpadmin.err" ||
  { cat "$work/lpadmin.err"; exit 1; }
# CUPS's normal quality for a printer of 300 and 600 dpi is 300 dpi; the queue
# prints at 600 unless a job asks for less, as the driver's own queue does.
lpadmin -p z -o print-quality-default=5 2>>"$work/lpadmin.err" ||
  { cat "$work/lpadmin.err"; exit 1; }

mkpdf() { sh "$src/tests/e2e/make_test_pdf.sh" "$@" || exit 1; }
mkpdf "$work/letter3.pdf" 3 612 792 --box 12 12 588 768
mkpdf "$work/a4-3.pdf" 3 595 842 --box 12 12 571 818
mkpdf "$work/red2.pdf" 2 612 792 --box 12 12 588 768 --red 1
mkpdf "$work/letter60.pdf" 60 612 792 --box 12 12 588 768

LETTER=4928x6400
A4=4768x6848

# print_job NAME PDF LP-ARGS...: prints through the queue, waits for the
# scheduler's job and the application's, and inspects the printer job.
print_job() {
  _name=$1 _pdf=$2
  shift 2
  e2e_case "$_name: lp $*"
  JOB_STATE=none
  if cupsd_submit z -t "$_name" "$@" "$work/$_pdf"; then
    cupsd_wait_job "$JOB_ID" 300
  fi
  CUPS_STATE=$JOB_STATE
  APP_JOB=$(app_job_id "$app_uri" "$_name")
  JOB_STATE=none
  [ -z "$APP_JOB" ] || ipp_wait_job "$app_uri" "$APP_JOB" 60
  inspect_job "$_name" "$work/out/$_name.prn"
}

# check_job NAME "MARKS" GEOMETRY [PJL-SETTING=VALUE]...: the common checks.
check_job() {
  _n=$1 _marks=$2 _geom=$3
  shift 3
  check "the scheduler's job completed" eq "$CUPS_STATE" completed
  check "the application's job completed" eq "$JOB_STATE" completed
  check "well formed (zelvar-inspect)" eq "$INSPECT_RC" 0
  check "pages in order (page marks, B blank)" eq "$(marks "$_n")" "$_marks"
  check "page geometry" eq "$(geometry "$_n")" "$_geom"
  check "the job's impressions count every side printed" \
    eq "$JOB_IMPRESSIONS" "$(($(records "$_n") * $(pjl "$_n" COPIES)))"
  for _s in "$@"; do
    check "PJL ${_s%%=*}" eq "$(pjl "$_n" "${_s%%=*}")" "${_s#*=}"
  done
}

# ---------------------------------------------------------------------------
print_job plain letter3.pdf
# Defaults: Letter, 600 dpi, monochrome line art, density 3, automatic tray.
check_job plain "0 1 2" "$LETTER" DUPLEX=OFF COPIES=1 ECONOMODE=OFF DENSITY=3 RESOLUTION=600 \
  AUTOSELECT=ON
check "Letter's paper code, plain paper, automatic tray, one colour" \
  eq "$(record plain 1 3),$(record plain 1 4),$(record plain 1 5),$(record plain 1 6)" "15,8,0,1"
check "the line-art path" eq "$(app_fitted_pages "$APP_JOB")" 3
# CUPS's driverless chain ends in Apple raster (URF) for this printer, which
# PAPPL reads as it streams in, as it does PWG raster.
check "CUPS sent Apple raster" \
  sh -c "grep -F '[Job $JOB_ID]' '$CUPSD_DIR/log/error_log' | grep -q 'FINAL_CONTENT_TYPE: image/urf'"

# Two-sided: the printer takes the back of each sheet first, and the odd page
# count gets a blank back page from the filter (CUPS adds none).
print_job long-edge letter3.pdf -o sides=two-sided-long-edge
check_job long-edge "1 0 B 2" "$LETTER" DUPLEX=ON DUPLEXTYPE=BOOKLET

print_job short-edge letter3.pdf -o sides=two-sided-short-edge
check_job short-edge "1 0 B 2" "$LETTER" DUPLEX=ON DUPLEXTYPE=CALENDAR

# Copies of a raster document are rendered by CUPS, collated as asked.
print_job collated letter3.pdf -n 2 -o collate=true
check_job collated "0 1 2 0 1 2" "$LETTER" COPIES=1

# Draft quality: CUPS renders 300 x 150 dpi, the application prints it at 300
# dpi, every line twice.
print_job draft letter3.pdf -o print-quality=3
check_job draft "0 1 2" 2464x3200 RESOLUTION=300

print_job a4 a4-3.pdf -o media=A4
check_job a4 "0 1 2" "$A4"
check "A4's paper code" eq "$(record a4 1 3)" 2

# Colour is the queue's Color Mode (ColorModel), as print dialogs offer it.
print_job black-red red2.pdf -o ColorModel=RGB
check "the scheduler's job completed" eq "$CUPS_STATE" completed
check "the application's job completed" eq "$JOB_STATE" completed
check "well formed (zelvar-inspect)" eq "$INSPECT_RC" 0
check "two colours in every record" eq "$(record black-red 1 6)/$(record black-red 2 6)" 2/2
check "two planes of Letter per page" eq "$(geometry black-red)" 4928x12800
check "pages in order (black plane)" eq "$(marks black-red top)" "0 1"
check "red square: red plane full" ge "$(region black-red 2 bottom 270 530 330 570)" 950
check "red square: black plane empty" le "$(region black-red 2 top 270 530 330 570)" 10
check "black square: black plane full" ge "$(region black-red 2 top 670 530 730 570)" 950
check "black square: red plane empty" le "$(region black-red 2 bottom 670 530 730 570)" 10

# CUPS 2.4 sends a driverless printer none of print-content-optimize,
# print-darkness and the vendor attributes: a queue gets photo printing or toner
# saving from the printer's defaults, set over IPP (or on its web page).
e2e_case "printer defaults: print-content-optimize-default=photo, toner-save-default=true"
ipp_set_defaults "$app_uri" print-content-optimize-default=photo toner-save-default=true
check "set" eq "$IPP_RC" 0
print_job photo letter3.pdf
check_job photo "0 1 2" "$LETTER" ECONOMODE=ON
check "the halftone path" eq "$(app_fitted_pages "$APP_JOB")" 0
ipp_set_defaults "$app_uri" print-content-optimize-default=auto toner-save-default=false

# ---------------------------------------------------------------------------
# Cancelling while it prints: the scheduler's backend cancels the job on the
# printer, the filter closes the printer job after whole pages, and the queue
# prints the next job.
e2e_case "cancel: lp letter60.pdf, cancelled after its first page"
cupsd_submit z -t cancel "$work/letter60.pdf"
cancel_cups=$JOB_ID
cancel_app=""
i=0
while [ $i -lt 600 ]; do
  [ -n "$cancel_app" ] || cancel_app=$(app_job_id "$app_uri" cancel)
  if [ -n "$cancel_app" ]; then
    ipp_job_state "$app_uri" "$cancel_app"
    [ "$JOB_STATE" = processing ] && [ "${JOB_IMPRESSIONS:-0}" -ge 1 ] 2>/dev/null && break
  fi
  sleep 0.1
  i=$((i + 1))
done
check "the job was printing when it was cancelled" eq "$JOB_STATE" processing
cancel "$cancel_cups"
cupsd_wait_job "$cancel_cups" 60
check "the scheduler's job canceled" eq "$JOB_STATE" canceled
ipp_wait_job "$app_uri" "$cancel_app" 60
check "the application's job canceled" eq "$JOB_STATE" canceled
inspect_job cancel "$work/out/cancel.prn"
check "the printer job is well formed up to its trailer" eq "$INSPECT_RC" 0
n=$(records cancel)
check "it holds fewer than the 60 pages" le "$n" 59
check "they are the first ones, in order" \
  eq "$(marks cancel)" "$(seq 0 $((n - 1)) | tr '\n' ' ' | sed 's/ $//')"
print_job after-cancel letter3.pdf
check_job after-cancel "0 1 2" "$LETTER"

cupsd_stop
app_stop
check "the application shut down cleanly (sanitizer builds: no report)" eq "$APP_STATUS" 0

e2e_finish
