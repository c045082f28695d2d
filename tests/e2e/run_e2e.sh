#!/bin/sh
# Prints multi-page PDFs through a real CUPS scheduler, the real cups-filters
# chain (pdftopdf, gstoraster) and rastertoZelvar into a file device, and checks
# every printer job with zelvar-inspect: well formed, the page count, the page
# geometry, the pages in the right order (read back from the page marks of the
# decoded pages) and the PJL settings for the options given.
#
#   run_e2e.sh BUILD_DIR SOURCE_DIR
#
# Exit status 0 when every check passed, 1 otherwise, 77 when it cannot run here
# (not root).  ZELVAR_E2E_KEEP=1 keeps the scratch directory.
set -u
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$src/tests/e2e/cupsd_env.sh"
. "$src/tests/e2e/e2e_common.sh"
. "$src/tests/e2e/inspect_job.sh"
e2e_require
for p in rastertoZelvar zelvar-inspect zelvar-pbm-probe zelvar-test-backend; do
  [ -x "$build/$p" ] || { echo "FAIL: $build/$p is not built"; exit 1; }
done

work=$(mktemp -d /tmp/zelvar-e2e.XXXXXX)
chmod 0755 "$work"
cleanup() {
  cupsd_stop
  if [ "${ZELVAR_E2E_KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

cupsd_start "$work/cups" "$build/rastertoZelvar" || exit 1
out=$work/cups/out/zelvar.prn
cupsd_add_queue zelvar "$src/ppd/zelvar.ppd" "$out" || exit 1
# The same printer behind a backend process (a slow one) instead of a file.
backend_out=$work/cups/out/backend.prn
cupsd_add_backend_queue zelvar-backend "$src/ppd/zelvar.ppd" "$build/zelvar-test-backend" \
  zelvartest "$backend_out" || exit 1

# Test documents.  The page marks are laid out over the part of the sheet that
# the printed page shows: the printable area (12 points in from the edges) for
# sizes with margins and for the crop path, the whole sheet for the scale path.
mkpdf() { sh "$src/tests/e2e/make_test_pdf.sh" "$@" || exit 1; }
mkpdf "$work/letter5.pdf" 5 612 792 --box 12 12 588 768
mkpdf "$work/a4-5.pdf" 5 595 842 --box 12 12 571 818
mkpdf "$work/letter-sheet3.pdf" 3 612 792 --frame
mkpdf "$work/letter-crop3.pdf" 3 612 792 --box 12 12 588 768 --frame
mkpdf "$work/red2.pdf" 2 612 792 --box 12 12 588 768 --red 1
mkpdf "$work/letter60.pdf" 60 612 792 --box 12 12 588 768
mkpdf "$work/grey1.pdf" 1 612 792 --box 12 12 588 768 --grey 0.5
mkpdf "$work/grey60.pdf" 60 612 792 --box 12 12 588 768 --grey 0.5
mkpdf "$work/line-art2.pdf" 2 612 792 --box 12 12 588 768 --patches --lines

# Page geometry of the printed pages at 600 dpi: the raster of a size with
# margins is its printable area, padded to whole 32-pixel units; a full-bleed
# page is fitted to the printable area, (sheet - 24 points) x 600 / 72, rounded
# up to 32.
LETTER=4928x6400
A4=4768x6848

# print_job NAME PDF LP-ARGS...: prints, waits, keeps the job as NAME.prn and
# inspects it.  PRINT_QUEUE and PRINT_OUT name another queue and its device file.
print_job() {
  _name=$1 _pdf=$2 _queue=${PRINT_QUEUE:-zelvar} _dev=${PRINT_OUT:-$out}
  shift 2
  e2e_case "$_name: lp -d $_queue $*"
  : >"$_dev"
  JOB_STATE=none
  if cupsd_submit "$_queue" -t "$_name" "$@" "$work/$_pdf"; then
    cupsd_wait_job "$JOB_ID" 300
  fi
  cp "$_dev" "$work/$_name.prn"
  inspect_job "$_name"
}

# same_dots A B [X0 Y0 X1 Y1]...: compares the decoded pages of jobs A and B
# dot by dot (regions in thousandths of the page, as zelvar-pbm-probe takes
# them).  Sets DIFF_PAGES (the pages compared, or "size" when their sizes
# differ), DIFF_ALL, DIFF_OUTSIDE (dots differing outside every region) and
# DIFF_REGIONS (the differing dots of each region, summed over the pages).
same_dots() {
  _a=$1 _b=$2
  shift 2
  DIFF_PAGES=0 DIFF_ALL=0 DIFF_OUTSIDE=0 DIFF_REGIONS=""
  for _f in "$work/$_a"/page-*.pbm; do
    [ -e "$_f" ] || continue
    _r=$("$build/zelvar-pbm-probe" --diff "$_f" "$work/$_b/${_f##*/}" "$@") || {
      DIFF_PAGES=size
      return
    }
    DIFF_PAGES=$((DIFF_PAGES + 1))
    DIFF_ALL=$((DIFF_ALL + $(echo "$_r" | sed -n 's/^differ=\([0-9]*\).*/\1/p')))
    DIFF_OUTSIDE=$((DIFF_OUTSIDE + $(echo "$_r" | sed -n 's/.* outside=\([0-9]*\).*/\1/p')))
    _regions=$(echo "$_r" | grep -o 'region=[0-9]*' | sed 's/region=//' | tr '\n' ' ')
    if [ -z "$DIFF_REGIONS" ]; then
      DIFF_REGIONS=$_regions
    else
      DIFF_REGIONS=$(printf '%s\n%s\n' "$DIFF_REGIONS" "$_regions" |
        awk '{ for (i = 1; i <= NF; i++) s[i] += $i; if (NF > n) n = NF }
             END { for (i = 1; i <= n; i++) printf "%d ", s[i] }')
    fi
  done
}

# check_job NAME "MARKS" GEOMETRY [PJL-SETTING=VALUE]...: the common checks.
check_job() {
  _n=$1 _marks=$2 _geom=$3
  shift 3
  check "job completed" eq "$JOB_STATE" completed
  check "well formed (zelvar-inspect)" eq "$INSPECT_RC" 0
  check "every page is libjbig's stream of it" eq "$REENCODE_DIFFS" 0
  check "page records" eq "$(records "$_n")" "$(echo "$_marks" | wc -w | tr -d ' ')"
  check "pages in order (page marks, B blank)" eq "$(marks "$_n")" "$_marks"
  check "page geometry" eq "$(geometry "$_n")" "$_geom"
  # CUPS counts what the printer prints: every record times the copies the
  # printer makes of it (PJL COPIES).
  check "PAGE: lines count every record and its printer copies" \
    eq "$JOB_IMPRESSIONS" "$(($(records "$_n") * $(pjl "$_n" COPIES)))"
  for _s in "$@"; do
    check "PJL ${_s%%=*}" eq "$(pjl "$_n" "${_s%%=*}")" "${_s#*=}"
  done
}

# ---------------------------------------------------------------------------
print_job plain letter5.pdf
check "the chain was pdftopdf, gstoraster, rastertoZelvar" \
  sh -c "grep -F '[Job $JOB_ID]' '$CUPSD_DIR/log/error_log' | grep -o 'Started filter [^ ]*' |
         sed 's|.*/||' | tr '\n' ' ' | grep -qx 'pdftopdf gstoraster rastertoZelvar '"
check "rastertoZelvar exited without errors" \
  sh -c "grep -F '[Job $JOB_ID]' '$CUPSD_DIR/log/error_log' | grep -q 'rastertoZelvar) exited with no errors'"
check "LineArt mode sent 8-bit white-based grey marked for line art" \
  sh -c "cupsd_log=\$(grep -F '[Job $JOB_ID]' '$CUPSD_DIR/log/error_log');
         echo \"\$cupsd_log\" | grep -q 'cupsBitsPerPixel = 8 ' &&
         echo \"\$cupsd_log\" | grep -q 'cupsColorSpace = 18 ' &&
         echo \"\$cupsd_log\" | grep -q 'cupsInteger\[6\] = 1 (LineArt)'"
# Default settings: Letter, 600 dpi, the line-art path, density 3.
check_job plain "0 1 2 3 4" "$LETTER" DUPLEX=OFF COPIES=1 ECONOMODE=OFF DENSITY=3 \
  RESOLUTION=600 AUTOSELECT=ON
check "Letter's paper code" eq "$(record plain 1 3)" 15
check "plain paper's media code" eq "$(record plain 1 4)" 8
check "automatic tray (0 in the record)" eq "$(record plain 1 5)" 0
check "one colour" eq "$(record plain 1 6)" 1

# Two-sided: the printer takes the back of each sheet first, and an odd page
# count gets a blank back page.
print_job long-edge letter5.pdf -o sides=two-sided-long-edge
check_job long-edge "1 0 3 2 B 4" "$LETTER" DUPLEX=ON DUPLEXTYPE=BOOKLET COPIES=1

print_job short-edge letter5.pdf -o sides=two-sided-short-edge
check_job short-edge "1 0 3 2 B 4" "$LETTER" DUPLEX=ON DUPLEXTYPE=CALENDAR

# Collated copies are made by the filter: the printer is told one copy.
print_job collate letter5.pdf -n 2 -o collate=true
check_job collate "0 1 2 3 4 0 1 2 3 4" "$LETTER" COPIES=1

print_job collated-copies letter5.pdf -n 2 \
  -o multiple-document-handling=separate-documents-collated-copies
check_job collated-copies "0 1 2 3 4 0 1 2 3 4" "$LETTER" COPIES=1

# Uncollated copies are the printer's: each page once, COPIES 2.
print_job uncollated-copies letter5.pdf -n 2 \
  -o multiple-document-handling=separate-documents-uncollated-copies
check_job uncollated-copies "0 1 2 3 4" "$LETTER" COPIES=2

print_job toner-density letter5.pdf -o TonerSave=True -o Density=5
check_job toner-density "0 1 2 3 4" "$LETTER" ECONOMODE=ON DENSITY=5

print_job a4 a4-5.pdf -o media=A4
check_job a4 "0 1 2 3 4" "$A4"
check "A4's paper code" eq "$(record a4 1 3)" 2

# Full bleed: the raster covers the sheet, the filter fits it to the printable
# area.  A frame along the sheet's edges tells the two ways apart: scaling keeps
# it at the page's edges, cropping cuts it off.
print_job full-bleed-scale letter-sheet3.pdf -o PageSize=Letter.Fullbleed -o FullBleedFit=Scale
check_job full-bleed-scale "0 1 2" "$LETTER"
check "the sheet's edge frame is kept at the left edge" ge "$(region full-bleed-scale 1 all 0 200 3 800)" 900
check "... and at the top edge" ge "$(region full-bleed-scale 1 all 200 0 800 3)" 900

print_job full-bleed-crop letter-crop3.pdf -o PageSize=Letter.Fullbleed -o FullBleedFit=Crop
check_job full-bleed-crop "0 1 2" "$LETTER"
check "the sheet's edge frame is cut off at the left" eq "$(region full-bleed-crop 1 all 0 200 3 800)" 0
check "... and at the top" eq "$(region full-bleed-crop 1 all 200 0 800 3)" 0

# LineArt mode asks the renderer for 8-bit white-based grey instead of 24-bit
# RGB (a third of the bytes); it must print the dots that the 24-bit raster
# printed.  A queue with a copy of the PPD whose LineArt mode asks for 24-bit RGB
# prints the same documents, and the decoded pages are compared dot by dot: text
# and line art identically, also fitted to the printable area; only colours,
# which the renderer turns into grey its own way, may print other dots.
rgb_ppd=$work/zelvar-rgb.ppd
sed 's|^\(\*PrintMode LineArt/[^:]*:\) .*|\1 "<</cupsColorSpace 1/cupsColorOrder 0/cupsBitsPerColor 8/cupsInteger4 0/cupsInteger6 0>>setpagedevice"|' \
  "$src/ppd/zelvar.ppd" >"$rgb_ppd"
grep -q 'LineArt.*cupsColorSpace 1/' "$rgb_ppd" || { echo "FAIL: cannot make the 24-bit PPD"; exit 1; }
rgb_out=$work/cups/out/rgb.prn
cupsd_add_queue zelvar-rgb "$rgb_ppd" "$rgb_out" || exit 1
PRINT_QUEUE=zelvar-rgb PRINT_OUT=$rgb_out print_job plain-rgb letter5.pdf
check_job plain-rgb "0 1 2 3 4" "$LETTER"
check "the 24-bit queue sent 24-bit RGB" \
  sh -c "grep -F '[Job $JOB_ID]' '$CUPSD_DIR/log/error_log' | grep -q 'cupsBitsPerPixel = 24 '"
same_dots plain plain-rgb
check "text pages: the same dots from 8-bit grey as from 24-bit RGB" eq "$DIFF_PAGES/$DIFF_ALL" 5/0
PRINT_QUEUE=zelvar-rgb PRINT_OUT=$rgb_out print_job full-bleed-scale-rgb letter-sheet3.pdf \
  -o PageSize=Letter.Fullbleed -o FullBleedFit=Scale
check_job full-bleed-scale-rgb "0 1 2" "$LETTER"
same_dots full-bleed-scale full-bleed-scale-rgb
check "scaled full-bleed pages: the same dots" eq "$DIFF_PAGES/$DIFF_ALL" 3/0
print_job line-art line-art2.pdf
check_job line-art "0 1" "$LETTER"
PRINT_QUEUE=zelvar-rgb PRINT_OUT=$rgb_out print_job line-art-rgb line-art2.pdf
check_job line-art-rgb "0 1" "$LETTER"
# Regions: the grey patches' row, the colour patches' row and the slanted
# lines, each with a margin.  Ghostscript itself draws a few pixels of slanted
# thin lines otherwise at 8 bits than at 24 (five a page here, in the rasters it
# delivers, before this filter sees them); they are counted, not compared.
same_dots line-art line-art-rgb 95 515 905 585 95 595 905 665 490 690 610 790
check "text, page marks, straight lines, circles: the same dots" eq "$DIFF_PAGES/$DIFF_OUTSIDE" 2/0
set -- $DIFF_REGIONS
echo "        (dots printed otherwise than from 24-bit RGB on 2 pages of $(($(record line-art 1 1) * $(record line-art 1 2))) dots: $1 on the grey patches, $2 on the colour patches, $3 on the slanted lines)"
check "neutral greys arrive with the values of 24-bit RGB: the same dots" eq "$1" 0
check "the slanted lines: at most a few dots differ" le "$3" 100

# The 8-bit halftone path.
print_job halftone letter5.pdf -o PrintMode=Halftone
check_job halftone "0 1 2 3 4" "$LETTER"

# Photo mode's settings act the right way round on a page with a 50 % grey
# block: density 1 sets fewer dots than 4, 5 more, and toner saving fewer than
# the same density without it.  (Toner saving screens with the curve of density
# 3, so it is compared at 4.)
print_job photo grey1.pdf -o PrintMode=Halftone -o Density=4
check_job photo "0" "$LETTER" ECONOMODE=OFF DENSITY=4
print_job photo-toner-save grey1.pdf -o PrintMode=Halftone -o Density=4 -o TonerSave=True
check_job photo-toner-save "0" "$LETTER" ECONOMODE=ON DENSITY=4
check "toner saving sets fewer dots than normal" \
  lt "$(record photo-toner-save 1 7)" "$(record photo 1 7)"
print_job photo-density-1 grey1.pdf -o PrintMode=Halftone -o Density=1
check_job photo-density-1 "0" "$LETTER" DENSITY=1
check "density 1 sets fewer dots than 4" lt "$(record photo-density-1 1 7)" "$(record photo 1 7)"
print_job photo-density-5 grey1.pdf -o PrintMode=Halftone -o Density=5
check_job photo-density-5 "0" "$LETTER" DENSITY=5
check "density 5 sets more dots than 4" lt "$(record photo 1 7)" "$(record photo-density-5 1 7)"

# Black and red: each record carries a black plane above a red one.  On page 1
# the red square must be in the red plane only, the black square in the black
# plane only.
print_job black-red red2.pdf -o PrintMode=BlackRed
check "job completed" eq "$JOB_STATE" completed
check "well formed (zelvar-inspect)" eq "$INSPECT_RC" 0
check "every page is libjbig's stream of it" eq "$REENCODE_DIFFS" 0
check "page records" eq "$(records black-red)" 2
check "two colours in every record" eq "$(record black-red 1 6)/$(record black-red 2 6)" 2/2
check "two planes of Letter per page" eq "$(geometry black-red)" 4928x12800
check "pages in order (black plane)" eq "$(marks black-red top)" "0 1"
check "red square: red plane full" ge "$(region black-red 2 bottom 270 530 330 570)" 950
check "red square: black plane empty" le "$(region black-red 2 top 270 530 330 570)" 10
check "black square: black plane full" ge "$(region black-red 2 top 670 530 730 570)" 950
check "black square: red plane empty" le "$(region black-red 2 bottom 670 530 730 570)" 10
check "page marks are not red" le "$(region black-red 1 bottom 0 0 1000 250)" 0

# Cancelling while it prints: the filter ends the printer job cleanly within a
# few seconds, leaves no spool file, and the queue prints the next job.  The
# job asks for collated copies, so the filter spools it.
e2e_case "cancel: lp -n 2 -o collate=true letter60.pdf, cancelled after its first page"
: >"$out"
touch "$work/cancel.mark"
cupsd_submit zelvar -t cancel -n 2 -o collate=true "$work/letter60.pdf"
cancel_id=$JOB_ID
i=0
# Cancel once page records are on their way: the filter has reported a page, or
# its output holds more than a buffer's worth (a job header is under 2 KB).
while [ $i -lt 600 ]; do
  attrs=$(cupsd_job_attrs "$cancel_id")
  case ${attrs#*,} in '' | 0 | *[!0-9]*) ;; *) break ;; esac
  case ${attrs%%,*} in completed | canceled | aborted | processing-stopped) break ;; esac
  [ "$(wc -c <"$out")" -ge 8192 ] && break
  sleep 0.1
  i=$((i + 1))
done
check "the job was printing when it was cancelled" eq "${attrs%%,*}" processing
# cupsd starts filters with the queue name as argv[0]; its log names the pid.
filter_pid=$(cupsd_job_log "$cancel_id" | sed -n 's/.*Started filter .*\/rastertoZelvar (PID \([0-9]*\)).*/\1/p')
check "the filter was running" test -n "$filter_pid"
# The spool file's name is removed when it is made: only the filter's
# descriptor reaches it.
spool_fds() {
  _n=0
  for _fd in "/proc/$1/fd"/*; do
    case $(readlink "$_fd" 2>/dev/null) in *zelvar-spool-*' (deleted)') _n=$((_n + 1)) ;; esac
  done
  echo "$_n"
}
check "the filter spools the job" eq "$(spool_fds "$filter_pid")" 1
ms() { echo $(($(date +%s%N) / 1000000)); }
cancel "$cancel_id"
t0=$(ms)
while [ -n "$filter_pid" ] && [ -d "/proc/$filter_pid" ] && [ $(($(ms) - t0)) -lt 40000 ]; do
  sleep 0.05
done
check "the filter exited within 3 seconds of the cancel" le "$(($(ms) - t0))" 3000
cupsd_wait_job "$cancel_id" 60
check "job canceled" eq "$JOB_STATE" canceled
# The scheduler logs how the filter ended once it has reaped it.
filter_end() { cupsd_job_log "$1" | sed -n 's/.*\/rastertoZelvar) \(.*\)/\1/p'; }
wait_filter_end() {
  i=0
  while [ -z "$(filter_end "$1")" ] && [ $i -lt 50 ]; do
    sleep 0.1
    i=$((i + 1))
  done
}
wait_filter_end "$cancel_id"
cancel_log=$(cupsd_job_log "$cancel_id")
check "the filter closed the printer job on the cancel" \
  eq "$(echo "$cancel_log" | grep -c 'Job cancelled, closing the printer job')" 1
check "... and exited by itself, with status 0" eq "$(filter_end "$cancel_id")" "exited with no errors."
cp "$out" "$work/cancel.prn"
inspect_job cancel
check "the cancelled job is well formed (trailer after whole pages)" eq "$INSPECT_RC" 0
n=$(records cancel)
check "it holds fewer than the 60 pages of the first copy" le "$n" 59
check "they are the first ones, in order" eq "$(marks cancel)" "$(seq 0 $((n - 1)) | tr '\n' ' ' | sed 's/ $//')"
check "a PAGE: line for every record sent" eq "$(echo "$cancel_log" | grep -c '] PAGE: ')" "$n"
# Files the filters (user lp) made since the job began, except Ghostscript's
# own scratch files, which a killed gstoraster leaves behind.
leftovers=$(find /tmp "$CUPSD_DIR/spool/tmp" -maxdepth 1 -type f -user lp -newer "$work/cancel.mark" \
  ! -name 'gs_*' 2>/dev/null)
check "no spool file left behind" eq "$leftovers" ""
print_job after-cancel letter5.pdf
check_job after-cancel "0 1 2 3 4" "$LETTER"

# Cancelling on a queue whose device is a backend process: cupsd stops the
# backend together with the filters, so the printer connection closes while
# the filter may still be writing: its pages of screened grey come faster than
# the slow backend takes them, so it is mostly waiting to write.  That is part
# of the cancel, never an error, on every run.
for round in 1 2 3; do
  e2e_case "cancel through a backend, round $round of 3: lp -d zelvar-backend grey60.pdf"
  : >"$backend_out"
  cupsd_submit zelvar-backend -t "backend-cancel-$round" "$work/grey60.pdf"
  id=$JOB_ID
  # Cancel once the backend has taken the job header and some pages.
  i=0
  while [ $i -lt 600 ] && [ "$(wc -c <"$backend_out")" -lt 262144 ]; do
    attrs=$(cupsd_job_attrs "$id")
    case ${attrs%%,*} in completed | canceled | aborted | processing-stopped) break ;; esac
    sleep 0.1
    i=$((i + 1))
  done
  attrs=$(cupsd_job_attrs "$id")
  check "the job was printing when it was cancelled" eq "${attrs%%,*}" processing
  cancel "$id"
  cupsd_wait_job "$id" 60
  check "job canceled" eq "$JOB_STATE" canceled
  wait_filter_end "$id"
  check "the filter exited by itself, with status 0" eq "$(filter_end "$id")" "exited with no errors."
  job_log=$(cupsd_job_log "$id")
  check "it logged no ERROR line" eq "$(echo "$job_log" | grep -c '^E ')" 0
  check "it closed the printer job on the cancel" \
    eq "$(echo "$job_log" | grep -c 'Job cancelled, closing the printer job')" 1
  echo "        (a write failed after the cancel: $(echo "$job_log" |
    grep -c 'the printer connection is gone') time(s))"
done

e2e_finish
