#!/bin/sh
# Prints through a real CUPS scheduler and the real cups-filters chain (pdftopdf,
# gstoraster) into a probe that stands in for rastertoZelvar, and checks that
# every kind of PPD option reaches the raster page header as the filter expects,
# and how copies, collation and two-sided requests arrive in its arguments.
#
#   run_probe.sh BUILD_DIR SOURCE_DIR
#
# Exit status 0 when every check passed, 1 otherwise, 77 when it cannot run here
# (not root).
set -u
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$src/tests/e2e/cupsd_env.sh"
. "$src/tests/e2e/e2e_common.sh"
e2e_require

work=$(mktemp -d /tmp/zelvar-probe.XXXXXX)
chmod 0755 "$work"
cleanup() {
  cupsd_stop
  if [ "${ZELVAR_E2E_KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

cupsd_start "$work/cups" "$build/zelvar-raster-probe:rastertoZelvar" || exit 1
out=$work/cups/out/probe.prn
cupsd_add_queue probe "$src/ppd/zelvar.ppd" "$out" || exit 1

# Three Letter pages laid out over the printable area; page 1 has a red square.
pdf=$work/letter3.pdf
sh "$src/tests/e2e/make_test_pdf.sh" "$pdf" 3 612 792 --box 12 12 588 768 --red 1 || exit 1

# probe NAME LP-ARGS...: prints the PDF, keeps the probe's report as NAME.txt.
probe() {
  _name=$1
  shift
  e2e_case "$_name: lp $*"
  REPORT=$work/$_name.txt
  if cupsd_submit probe "$@" "$pdf" && cupsd_wait_job "$JOB_ID" 120; then :; fi
  cp "$out" "$REPORT" 2>/dev/null || : >"$REPORT"
  check "job completed" eq "$JOB_STATE" completed
}
# field PAGE NAME: a header field of the page in the current report.
field() {
  grep "^page $1 " "$REPORT" | tr ' ' '\n' | sed -n "s/^$2=//p"
}
# option NAME: the value of a job option as cupsParseOptions reads argv[5].
option() {
  sed -n "s/^option $1=//p" "$REPORT"
}
arg() {
  sed -n "s/^argv\[$1\]=//p" "$REPORT"
}
pages() {
  sed -n 's/^pages=//p' "$REPORT"
}
sync_word() {
  sed -n 's/^sync=//p' "$REPORT"
}

probe defaults
check "the filter is the last of pdftopdf, gstoraster, rastertoZelvar" \
  sh -c "grep -F '[Job $JOB_ID]' '$CUPSD_DIR/log/error_log' | grep -o 'Started filter [^ ]*' |
         sed 's|.*/||' | tr '\n' ' ' | grep -qx 'pdftopdf gstoraster rastertoZelvar '"
check "the PPD is in the environment" sh -c "[ -n \"\$(sed -n 's/^PPD=//p' '$REPORT')\" ]"
check "three pages" eq "$(pages)" 3
check "600 dpi" eq "$(field 0 HWResolution)" 600,600
check "Letter" eq "$(field 0 PageSize)" 612,792
check "raster covers the printable area" eq "$(field 0 ImagingBoundingBox)" 12,12,600,780
check "4900 x 6400 pixels" eq "$(field 0 cupsWidth)x$(field 0 cupsHeight)" 4900x6400
check "8-bit white-based grey (SW)" eq "$(field 0 cupsBitsPerPixel)/$(field 0 cupsBitsPerColor)/$(field 0 cupsColorSpace)" 8/8/18
check "... with the line-art mark in cupsInteger[6]" eq "$(field 0 cupsInteger | cut -d, -f7)" 1
check "... where the paper is 255" eq "$(field 0 paper)" 255
check "... in one sample per pixel" eq "$(field 0 cupsColorOrder)" 0
check "uncompressed raster stream (version 3 sync word)" sh -c "case '$(sync_word)' in RaS3 | 3SaR) true ;; *) false ;; esac"
check "density 3 in cupsCompression" eq "$(field 0 cupsCompression)" 2
check "plain paper" eq "$(field 0 cupsMediaType)" 0
check "automatic tray" eq "$(field 0 MediaPosition)" 250
check "one-sided" eq "$(field 0 Duplex)/$(field 0 Tumble)" 0/0
check "cupsInteger defaults: scale full-bleed pages, red margin 60, line art" \
  eq "$(field 0 cupsInteger)" 0,0,0,1,0,60,1
check "pdftopdf leaves the orientation at 0" eq "$(field 0 Orientation)" 0
plain_inkx=$(field 0 inkx)
plain_inked=$(field 0 inked)

probe halftone-300dpi -o PrintMode=Halftone -o Resolution=300dpi
check "8-bit black (halftone path)" eq "$(field 0 cupsBitsPerPixel)/$(field 0 cupsColorSpace)" 8/3
check "no line-art mark" eq "$(field 0 cupsInteger | cut -d, -f7)" 0
check "paper is 0 in black" eq "$(field 0 paper)" 0
check "300 dpi" eq "$(field 0 HWResolution)" 300,300
check "2450 x 3200 pixels" eq "$(field 0 cupsWidth)x$(field 0 cupsHeight)" 2450x3200

probe black-red -o PrintMode=BlackRed -o RedLevel=Narrow
check "24-bit RGB" eq "$(field 1 cupsBitsPerPixel)/$(field 1 cupsColorSpace)" 24/1
check "two-colour mode, red margin 100, no line-art mark (24 bits take that path)" \
  eq "$(field 1 cupsInteger)" 0,0,0,1,1,100,0
check "paper is 255" eq "$(field 1 paper)" 255
check "the red square arrives red" ge "$(field 1 red)" 500000

probe light-economy -o Density=1 -o TonerSave=True
check "density 1 in cupsCompression 0" eq "$(field 0 cupsCompression)" 0
check "toner saving in cupsInteger[0]" eq "$(field 0 cupsInteger)" 1,0,0,1,0,60,1

probe effects -o Density=5 -o Negative=True -o MirrorImage=True -o FullBleedFit=Crop \
  -o MediaType=Envelope -o InputSlot=Manual
check "density 5 in cupsCompression 4" eq "$(field 0 cupsCompression)" 4
check "negative, mirror, crop in cupsInteger" eq "$(field 0 cupsInteger)" 0,1,1,0,0,60,1
check "nothing upstream inverts the page" eq "$(field 0 inked)" "$plain_inked"
check "nothing upstream mirrors the page" eq "$(field 0 inkx)" "$plain_inkx"
check "envelope" eq "$(field 0 cupsMediaType)" 7
check "manual feed tray" eq "$(field 0 MediaPosition)" 2

probe ipp-mirror -o mirror
check "the IPP mirror option is done by pdftopdf, not in cupsInteger[2]" \
  eq "$(field 0 cupsInteger)" 0,0,0,1,0,60,1
check "pdftopdf mirrored the page" sh -c "[ $(field 0 inkx) -gt $((1000 - plain_inkx - 10)) ] &&
                                          [ $(field 0 inkx) -lt $((1000 - plain_inkx + 10)) ]"

probe a4 -o media=A4
check "A4" eq "$(field 0 PageSize)" 595,842
check "printable area of A4" eq "$(field 0 ImagingBoundingBox)" 12,12,583,830

probe a4-full-bleed -o PageSize=A4.Fullbleed
check "A4" eq "$(field 0 PageSize)" 595,842
check "raster covers the whole sheet" eq "$(field 0 ImagingBoundingBox)" 0,0,595,842
check "4958 x 7017 pixels" eq "$(field 0 cupsWidth)x$(field 0 cupsHeight)" 4958x7017

probe ipp-borderless -o \
  'media-col={media-size={x-dimension=21000 y-dimension=29700} media-bottom-margin=0 media-left-margin=0 media-right-margin=0 media-top-margin=0}'
check "a borderless IPP request picks the full-bleed size" eq "$(field 0 ImagingBoundingBox)" 0,0,595,842

probe long-edge -o sides=two-sided-long-edge
check "Duplex on, no tumble" eq "$(field 0 Duplex)/$(field 0 Tumble)" 1/0
check "cupsd maps sides to the PPD's Duplex" eq "$(option Duplex)" DuplexNoTumble
check "no blank page added upstream" eq "$(pages)" 3

probe short-edge -o sides=two-sided-short-edge
check "Duplex on, tumble" eq "$(field 0 Duplex)/$(field 0 Tumble)" 1/1

probe copies -n 2
check "copies argument 2" eq "$(arg 4)" 2
check "NumCopies 2" eq "$(field 0 NumCopies)" 2
check "pdftopdf made no copies" eq "$(pages)" 3
check "no collate option" eq "$(option collate)" ""

probe collate -n 2 -o collate=true
check "copies argument 2" eq "$(arg 4)" 2
check "NumCopies 2" eq "$(field 0 NumCopies)" 2
check "pdftopdf made no copies" eq "$(pages)" 3
check "collate=true arrives as a bare 'collate' token" sh -c "arg5=\$(sed -n 's/^argv\[5\]=//p' '$REPORT'); case \" \$arg5 \" in *' collate '*) true ;; *) false ;; esac"
check "... which cupsParseOptions reads as collate=true" eq "$(option collate)" true
check "gstoraster leaves the header's Collate at 0" eq "$(field 0 Collate)" 0

probe collated-copies -n 2 -o multiple-document-handling=separate-documents-collated-copies
check "NumCopies 2" eq "$(field 0 NumCopies)" 2
check "pdftopdf made no copies" eq "$(pages)" 3
check "multiple-document-handling arrives as it was sent" \
  eq "$(option multiple-document-handling)" separate-documents-collated-copies
check "no collate option" eq "$(option collate)" ""
check "gstoraster leaves the header's Collate at 0" eq "$(field 0 Collate)" 0

probe uncollated-copies -n 2 -o multiple-document-handling=separate-documents-uncollated-copies
check "NumCopies 2" eq "$(field 0 NumCopies)" 2
check "multiple-document-handling arrives as it was sent" \
  eq "$(option multiple-document-handling)" separate-documents-uncollated-copies

e2e_finish
