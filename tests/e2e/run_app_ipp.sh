#!/bin/sh
# zelvar-printer-app as IPP clients see it: a private server on a free loopback
# port with printers whose devices are directories (a file per job), CUPS's
# ipptool suites against it, and jobs sent straight over IPP, each printer job
# checked with zelvar-inspect page by page.
#
#   run_app_ipp.sh BUILD_DIR SOURCE_DIR
#
# Exit status 0 when every check passed, 1 otherwise.  ZELVAR_E2E_KEEP=1 keeps
# the scratch directory (samples, printer jobs, decoded pages, ipptool's output
# and the server's log).
set -u
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$src/tests/e2e/app_env.sh"
. "$src/tests/e2e/e2e_common.sh"
. "$src/tests/e2e/app_jobs.sh"
. "$src/tests/e2e/inspect_job.sh"
app_require
for p in rastertoZelvar zelvar-printer-app zelvar-inspect zelvar-pbm-probe zelvar-make-raster; do
  [ -x "$build/$p" ] || { echo "FAIL: $build/$p is not built"; exit 1; }
done

work=$(mktemp -d /tmp/zelvar-app-ipp.XXXXXX)
chmod 0755 "$work"
SINK_PID=""
cleanup() {
  app_stop
  [ -z "$SINK_PID" ] || { kill "$SINK_PID"; wait "$SINK_PID"; } 2>/dev/null
  if [ "${ZELVAR_E2E_KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

app_start "$work/app" "$build/zelvar-printer-app" "$build/rastertoZelvar" || exit 1
app_add_printer z "$work/out" || exit 1
z_uri=$PRINTER_URI
# The suites' printer is an AppSocket one.  PAPPL 1.3 can start two jobs of a
# printer at once when jobs come and go within the moment a job's thread takes
# to start (as the suites' jobs do); the application prints them one after the
# other, but with a file device the first job's end closes the device the
# second is writing to, and the server crashes.  A network printer's connection
# stays open while jobs are queued.
mkdir -p "$work/sink"
python3 "$src/tests/e2e/socket_sink.py" "$work/sink" "$work/sink.port" &
SINK_PID=$!
i=0
while [ ! -s "$work/sink.port" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
app_add_printer_on suite "socket://127.0.0.1:$(cat "$work/sink.port")" || exit 1
suite_uri=$PRINTER_URI

# ---------------------------------------------------------------------------
e2e_case "get-printer-attributes.test"
ipptool -t "$suite_uri" get-printer-attributes.test >"$work/get-printer-attributes.out" 2>&1
check "passes" eq "$?" 0

# ---------------------------------------------------------------------------
# ipp-everywhere.test prints sample documents that Debian does not ship; they
# are made here, at the resolutions the printer has, in the raster types it
# takes.  The suite prints each as it is and compressed (deflate, gzip).
e2e_case "ipp-everywhere.test"
suite=$work/suite
mkdir -p "$suite"
for t in ipp-everywhere.test ipp-2.0.test ipp-1.1.test; do
  cp "/usr/share/cups/ipptool/$t" "$suite/" || exit 1
done
# One change: the suite cancels the job it has just sent while PAPPL may be
# starting its thread.  PAPPL 1.3 then runs the cancelled job all the same, and
# when it ends it clears the printer's current job and closes the printer's
# device under the job started in the meantime; with a file device the server
# crashes.  That race is PAPPL's (see the note of the issue); here the cancel
# waits until the job is under way.
sed -i '/NAME "RFC 8011 section 4.3.3: Cancel-Job Operation (pending\/processing job)"/a\
	DELAY 0.5' "$suite/ipp-1.1.test"
grep -q 'DELAY 0.5' "$suite/ipp-1.1.test" || { echo "FAIL: the cancel test of ipp-1.1.test has moved"; exit 1; }
sample() {  # sample DPI TYPE NAME MEDIA PAGES [ARGS]...
  _dir=$suite/pwg-raster-samples-$1dpi/$(echo "$2" | tr _ -)
  mkdir -p "$_dir"
  _out=$_dir/$3-$(echo "$2" | tr _ -)-$1dpi.pwg
  _type=$2 _media=$4 _dpi=$1 _pages=$5
  shift 5
  "$build/zelvar-make-raster" --out "$_out" --pwg "$_type" --media "$_media" --dpi "$_dpi" \
    --pages "$_pages" "$@" >/dev/null 2>&1 || { echo "cannot make $_out"; exit 1; }
}
# Three of the suite's documents (its others get empty stand-ins, below): a page
# of Letter, two of A4 and a 4x6-inch photo-sized page.
for dpi in 300 600; do
  for type in sgray_8 srgb_8 black_1; do
    sample $dpi $type onepage-letter na_letter_8.5x11in 1
    sample $dpi $type document-a4 iso_a4_210x297mm 2
    sample $dpi $type color.jpg-4x6 na_index-4x6_4x6in 1 --red 0
  done
done
# ipptool 2.4 reads every FILE of a suite as it parses it, also those of the
# sections it then skips (SKIP-IF-MISSING comes too late for that).  The print
# sections of documents not made here are left out of the copy, as
# SKIP-IF-MISSING means; the PDF and PostScript files of the RFC 8011 sections
# (which skip them, the printer taking neither) get empty stand-ins.
python3 - "$suite/ipp-everywhere.test" <<'PY'
import os, re, sys
path = sys.argv[1]
lines = open(path).read().split("\n")
out, block = [], None
for line in lines:
    if block is None:
        if line == "{":
            block = [line]
        else:
            out.append(line)
        continue
    block.append(line)
    if line == "}":
        files = [m.group(1) for l in block for m in [re.match(r"\s*FILE\s+(\S+)", l)] if m]
        if all(f.startswith("$") or os.path.exists(os.path.join(os.path.dirname(path), f))
               for f in files):
            out.extend(block)
        block = None
open(path, "w").write("\n".join(out))
PY
for t in ipp-2.0.test ipp-1.1.test; do
  sed -n 's/^[[:space:]]*FILE \([^$].*\)$/\1/p' "$suite/$t"
done | sort -u | while read -r f; do
  [ -e "$suite/$f" ] || : >"$suite/$f"
done
# The RFC 8011 sections print the file given with -f, and the JPEG sections
# color.jpg and gray.jpg: JPEGs of a test page, PAPPL renders them.  (The
# JPEG printed below is the printable area alone: PAPPL scales an image to fit
# the printable area, so its page marks land where they are looked for.)
sh "$src/tests/e2e/make_test_pdf.sh" "$work/page.pdf" 1 612 792 --box 12 12 588 768 --red 0 ||
  exit 1
sh "$src/tests/e2e/make_test_pdf.sh" "$work/printable.pdf" 1 588 768 || exit 1
for j in page.jpg:jpeg:page color.jpg:jpeg:page gray.jpg:jpeggray:page printable.jpg:jpeg:printable; do
  name=${j%%:*} device=${j#*:} pdf=${j##*:}
  rm -f "$suite/$name"
  gs -q -dNOPAUSE -dBATCH -sDEVICE="${device%%:*}" -r100 -sOutputFile="$suite/$name" \
    "$work/$pdf.pdf" || exit 1
done
(cd "$suite" && ipptool -t -I -f page.jpg "$suite_uri" ipp-everywhere.test) >"$work/ipp-everywhere.out" 2>&1
# Checks that fail because of PAPPL 1.3 or this printer, not the driver's data:
#  - the default Get-Printer-Attributes: over loopback PAPPL lists only the ipp:
#    URI in printer-uri-supported but both "none" and "tls" in
#    uri-security-supported;
#  - Get-Jobs with requested attributes, when a job was given its name twice
#    (PAPPL then sends job-name twice);
#  - Print-Job with job-hold-until: PAPPL sends job-state-reasons without a value
#    for a held job (its bit for job-hold-until-specified lies outside the range
#    it writes);
#  - Required Operations and Attributes: PAPPL implements neither
#    preferred-attributes-supported nor overrides-supported, and the printer has
#    no display, light or sound to identify itself with (identify-actions none).
allowed_failures="RFC 8011 section 4.2.5: Get-Printer-Attributes Operation (default)
RFC 8011 section 4.2.6: Get-Jobs Operation (which-jobs, requested-at
Print-Job with job-hold-until
PWG 5100.14 section 5.1/5.2 - Required Operations and Attributes"
grep -E '\[FAIL\]$' "$work/ipp-everywhere.out" | sed 's/ *\[FAIL\]$//; s/^ *//' >"$work/failures.txt"
echo "  ipp-everywhere.test failed:"
sed 's/^/    /' "$work/failures.txt"
unexpected=$(echo "$allowed_failures" | grep -vxF -f - "$work/failures.txt")
check "fails only where PAPPL or the printer cannot do better" eq "$unexpected" ""
everywhere_reasons() {
  sed -n '/Required Operations and Attributes *\[FAIL\]/,/^ *[A-Z].*\[\(PASS\|FAIL\|SKIP\)\]$/p' \
    "$work/ipp-everywhere.out" | sed -n 's/^ *EXPECTED: \([a-z-]*\).*/\1/p' | sort -u | tr '\n' ' '
}
check "... Required Operations and Attributes for those reasons only" \
  eq "$(everywhere_reasons)" \
  "identify-actions-default identify-actions-supported overrides-supported preferred-attributes-supported "
prints=$(grep -c '^ *Print [a-z].* @ [0-9]*dpi.*\[PASS\]$' "$work/ipp-everywhere.out")
# 2 resolutions x 3 documents x 2 raster types x 3 (plain, deflate, gzip).
check "every sample printed (Print-Job)" eq "$prints" 36
check "no black_1 sample was sent (the type is not offered)" \
  eq "$(grep -c 'black-1.*\[PASS\]' "$work/ipp-everywhere.out")" 0
# A sample sent while the printer was busy with the suite's earlier jobs is
# refused (PAPPL aborts that job) and sent again.
# Every job the suite printed, in the order the printer got them: each one well
# formed, and the last of each sample document (its 600-dpi colour version,
# gzip-compressed) checked page by page.
sleep 1  # the printer's connection closes once its queue is empty
bad="" n=0
for f in "$work/sink"/*.prn; do
  n=$((n + 1))
  name=$(basename "$f" .prn)
  inspect_job "sink-$name" "$f"
  [ "$INSPECT_RC" -eq 0 ] || bad="$bad $name"
  title=$(sed -n 's/^  title *//p' "$work/sink-$name/inspect.txt")
  case $title in
    onepage-letter | document-a4 | color.jpg-4x6)
      rm -rf "${work:?}/$title" && mv "$work/sink-$name" "$work/$title" ;;
  esac
done
check "every printer job of the suite is well formed ($n)" eq "$bad" ""
check "every sample job completed" eq \
  "$(app_jobs "$suite_uri" completed | grep -cE '^onepage-letter$|^document-a4$|^color\.jpg-4x6$')" 36
for doc in onepage-letter:15:1 document-a4:2:2 color.jpg-4x6:96:1; do
  name=${doc%%:*} rest=${doc#*:}
  check "$name: pages in order" eq "$(marks "$name")" "$(seq 0 $((${rest#*:} - 1)) | tr '\n' ' ' | sed 's/ $//')"
  check "$name: paper code" eq "$(record "$name" 1 3)" "${rest%%:*}"
  check "$name: 600 dpi" eq "$(pjl "$name" RESOLUTION)" 600
done

# ---------------------------------------------------------------------------
# Jobs straight over IPP with the job attributes a client sends.
print_pwg() {  # print_pwg NAME FILE [ATTR=VALUE]...
  _name=$1 _file=$2
  shift 2
  e2e_case "$_name: $*"
  ipp_print "$z_uri" "$_name" "$_file" image/pwg-raster "$@"
  inspect_job "$_name" "$work/out/$_name.prn"
}
raster() {  # raster NAME TYPE MEDIA PAGES DPI [ARGS]...
  _n=$1 _type=$2 _media=$3 _pages=$4 _dpi=$5
  shift 5
  "$build/zelvar-make-raster" --out "$work/$_n.pwg" --pwg "$_type" --media "$_media" \
    --pages "$_pages" --dpi "$_dpi" "$@" >/dev/null 2>&1 || exit 1
}
raster a4-3 sgray_8 iso_a4_210x297mm 3 600
raster letter-3 sgray_8 na_letter_8.5x11in 3 600
raster letter-3-300 sgray_8 na_letter_8.5x11in 3 300
raster red-2 srgb_8 na_letter_8.5x11in 2 600 --red 1

print_pwg duplex-copies "$work/a4-3.pwg" sides=two-sided-short-edge copies=2 \
  multiple-document-handling=separate-documents-collated-copies media=iso_a4_210x297mm \
  media-type=cardstock media-source=manual print-darkness=100 toner-save=true
check "job completed" eq "$JOB_STATE" completed
check "well formed" eq "$INSPECT_RC" 0
# Two collated copies of three pages, two-sided: back page first on each sheet
# and a blank back page for the odd page count.
check "sheets and copies in order" eq "$(marks duplex-copies)" "1 0 B 2 1 0 B 2"
check "PJL of the settings" eq "$(pjl duplex-copies DUPLEX),$(pjl duplex-copies DUPLEXTYPE),$(pjl duplex-copies COPIES),$(pjl duplex-copies ECONOMODE),$(pjl duplex-copies DENSITY),$(pjl duplex-copies AUTOSELECT)" \
  "ON,CALENDAR,1,ON,5,OFF"
check "A4 (paper 2), cardstock (media 1), manual feed (tray 2)" \
  eq "$(record duplex-copies 1 3),$(record duplex-copies 1 4),$(record duplex-copies 1 5)" "2,1,2"
check "impressions: every side printed" eq "$JOB_IMPRESSIONS" 8

print_pwg uncollated "$work/letter-3-300.pwg" copies=2 \
  multiple-document-handling=separate-documents-uncollated-copies print-darkness=-100
check "job completed" eq "$JOB_STATE" completed
check "pages once, in order" eq "$(marks uncollated)" "0 1 2"
check "the printer makes the copies" eq "$(pjl uncollated COPIES)" 2
check "300 dpi, density 1" eq "$(pjl uncollated RESOLUTION),$(pjl uncollated DENSITY)" "300,1"
check "impressions count the printer's copies" eq "$JOB_IMPRESSIONS" 6

print_pwg black-red "$work/red-2.pwg" print-color-mode=color red-detection=narrow
check "job completed" eq "$JOB_STATE" completed
check "two colours in every record" eq "$(record black-red 1 6)/$(record black-red 2 6)" 2/2
check "pages in order (black plane)" eq "$(marks black-red top)" "0 1"
check "red square: red plane full" ge "$(region black-red 2 bottom 270 420 330 480)" 950
check "red square: black plane empty" le "$(region black-red 2 top 270 420 330 480)" 10
check "black square: black plane full" ge "$(region black-red 2 top 670 420 730 480)" 950
check "black square: red plane empty" le "$(region black-red 2 bottom 670 420 730 480)" 10

print_pwg effects "$work/letter-3.pwg" negative-print=true mirror-image=true
check "job completed" eq "$JOB_STATE" completed
# Negative: the white page is black, the marks white; mirror: they stand
# right to left.
check "negative: the paper is toner" ge "$(region effects 1 all 0 300 1000 400)" 990
check "mirror: page 0's mark is at the right" \
  eq "$(region effects 1 all 115 95 140 105),$(region effects 1 all 860 95 885 105)" "1000,0"

# The filter's log (in the server's) says which way it took: line art is fitted
# to the printable area first, the halftone path only screens.
print_pwg photo "$work/letter-3.pwg" print-content-optimize=photo
check "job completed" eq "$JOB_STATE" completed
check "pages in order" eq "$(marks photo)" "0 1 2"
check "the halftone path" eq "$(app_fitted_pages "$JOB_ID")" 0
print_pwg line-art "$work/letter-3.pwg" print-content-optimize=text
check "job completed" eq "$JOB_STATE" completed
check "the line-art path" eq "$(app_fitted_pages "$JOB_ID")" 3

# Printer defaults set over IPP apply to jobs that do not say otherwise.
e2e_case "printer defaults: toner-save-default=true, print-darkness-default=50"
ipp_set_defaults "$z_uri" toner-save-default=true
check "set" eq "$IPP_RC" 0
print_pwg default-toner "$work/letter-3.pwg"
check "job completed" eq "$JOB_STATE" completed
check "toner saving from the printer's default" eq "$(pjl default-toner ECONOMODE)" ON
ipp_set_defaults "$z_uri" toner-save-default=false

e2e_case "JPEG, rendered by PAPPL: 2 copies, two-sided"
ipp_print "$z_uri" jpeg "$suite/printable.jpg" image/jpeg copies=2 sides=two-sided-long-edge
inspect_job jpeg "$work/out/jpeg.prn"
check "job completed" eq "$JOB_STATE" completed
check "well formed" eq "$INSPECT_RC" 0
# PAPPL renders each copy of an image as a page of its own.
check "the page twice, one sheet" eq "$(marks jpeg)" "0 0"
check "Letter" eq "$(record jpeg 1 3)" 15

e2e_case "PNG, rendered by PAPPL"
gs -q -dNOPAUSE -dBATCH -sDEVICE=pnggray -r100 -sOutputFile="$work/printable.png" \
  "$work/printable.pdf" || exit 1
ipp_print "$z_uri" png "$work/printable.png" image/png
inspect_job png "$work/out/png.prn"
check "job completed" eq "$JOB_STATE" completed
check "well formed, the page" eq "$INSPECT_RC,$(marks png)" "0,0"

# ---------------------------------------------------------------------------
e2e_case "1-bit PWG raster (black_1, not offered)"
ipp_print "$z_uri" black-1 "$suite/pwg-raster-samples-600dpi/black-1/onepage-letter-black-1-600dpi.pwg" \
  image/pwg-raster
check "job aborted" eq "$JOB_STATE" aborted
check "with the reason" contains "$JOB_MESSAGE" "fewer than 8 bits per pixel"
check "document-unprintable-error" contains "$JOB_REASONS" document-unprintable-error

e2e_case "malformed PWG raster: a page cut short"
head -c $(($(wc -c <"$work/letter-3.pwg") * 2 / 3)) "$work/letter-3.pwg" >"$work/cut.pwg"
ipp_print "$z_uri" cut "$work/cut.pwg" image/pwg-raster
check "job aborted" eq "$JOB_STATE" aborted
check "with the reason" contains "$JOB_MESSAGE" "malformed or incomplete"
check "document-format-error" contains "$JOB_REASONS" document-format-error
inspect_job cut "$work/out/cut.prn"
# The filter is stopped: it closes the printer job after the pages it has sent,
# or, stopped before its first page, sends nothing at all.
check "nothing half-written reaches the printer" \
  sh -c "[ ! -s '$work/out/cut.prn' ] || [ $INSPECT_RC -eq 0 ]"

e2e_case "malformed PWG raster: a page header that lies about its lines"
"$build/zelvar-make-raster" --out "$work/liar.pwg" --pwg sgray_8 --media na_letter_8.5x11in \
  --pages 1 --dpi 300 >/dev/null || exit 1
# cupsBytesPerLine (at 392 in the page header, after the 4-byte sync word) one
# byte short.
python3 - "$work/liar.pwg" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
off = 4 + 392
value = struct.unpack('>I', data[off:off + 4])[0]
data[off:off + 4] = struct.pack('>I', value - 1)
open(sys.argv[1], 'wb').write(data)
PY
ipp_print "$z_uri" liar "$work/liar.pwg" image/pwg-raster
check "job aborted" eq "$JOB_STATE" aborted
check "document-format-error" contains "$JOB_REASONS" document-format-error

e2e_case "the server keeps serving"
print_pwg after-errors "$work/letter-3.pwg"
check "job completed" eq "$JOB_STATE" completed
check "pages in order" eq "$(marks after-errors)" "0 1 2"

# ---------------------------------------------------------------------------
e2e_case "cancel while printing"
raster long sgray_8 na_letter_8.5x11in 40 600 --content text
ipp_print_background "$z_uri" long "$work/long.pwg" image/pwg-raster
long_id=$(ipp_wait_printing "$z_uri" long 120)
check "the job was printing" test -n "$long_id"
app_cmd cancel -u "$z_uri" -j "$long_id" >/dev/null 2>&1
ipp_wait_background
ipp_job_state "$z_uri" "$long_id"
check "job canceled" eq "$JOB_STATE" canceled
inspect_job long "$work/out/long.prn"
check "the printer job is well formed up to its trailer" eq "$INSPECT_RC" 0
n=$(records long)
check "it holds fewer than the 40 pages" le "$n" 39
check "they are the first ones, in order" eq "$(marks long)" "$(seq 0 $((n - 1)) | tr '\n' ' ' | sed 's/ $//')"
print_pwg after-cancel "$work/letter-3.pwg"
check "the next job prints" eq "$JOB_STATE,$(marks after-cancel)" "completed,0 1 2"

# ---------------------------------------------------------------------------
e2e_case "two printers print at the same time"
app_add_printer z2 "$work/out2" || exit 1
z2_uri=$PRINTER_URI
raster both sgray_8 na_letter_8.5x11in 4 600 --content text
ipp_print_background "$z_uri" both-1 "$work/both.pwg" image/pwg-raster
first_bg=$IPP_BG
ipp_print_background "$z2_uri" both-2 "$work/both.pwg" image/pwg-raster
IPP_BG="$first_bg $IPP_BG"
# The filters the server runs, seen every few milliseconds while both print.
most=0
running() {
  for _p in $IPP_BG; do kill -0 "$_p" 2>/dev/null && return 0; done
  return 1
}
while running; do
  n=$(app_filters_running)
  [ "$n" -gt "$most" ] && most=$n
  sleep 0.02
done
ipp_wait_background
check "the two printers' filters ran at the same time" eq "$most" 2
ipp_wait_job "$z_uri" "$(app_job_id "$z_uri" both-1)" 60
check "the first job completed" eq "$JOB_STATE" completed
ipp_wait_job "$z2_uri" "$(app_job_id "$z2_uri" both-2)" 60
check "the second job completed" eq "$JOB_STATE" completed
inspect_job both-1 "$work/out/both-1.prn"
check "the first printer's job: well formed, in order" eq "$INSPECT_RC,$(marks both-1)" "0,0 1 2 3"
inspect_job both-2 "$work/out2/both-2.prn"
check "the second printer's job: well formed, in order" eq "$INSPECT_RC,$(marks both-2)" "0,0 1 2 3"

# ---------------------------------------------------------------------------
app_stop
check "the server shut down cleanly (sanitizer builds: no report)" eq "$APP_STATUS" 0

e2e_case "a filter that fails"
app_start "$work/app-failing" "$build/zelvar-printer-app" "$src/tests/e2e/failing_filter.sh" || exit 1
app_add_printer f "$work/out-failing" || exit 1
ipp_print "$PRINTER_URI" failing "$work/letter-3.pwg" image/pwg-raster
check "job aborted" eq "$JOB_STATE" aborted
check "with the filter's error" eq "$JOB_MESSAGE" "the printer stopped responding"
ipp_print "$PRINTER_URI" failing-again "$work/letter-3.pwg" image/pwg-raster
check "the server still takes jobs" eq "$JOB_STATE" aborted
app_stop
check "and shuts down cleanly" eq "$APP_STATUS" 0

e2e_finish
