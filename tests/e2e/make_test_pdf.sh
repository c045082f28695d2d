#!/bin/sh
# Writes a test PDF whose every page says which page it is.
#
#   make_test_pdf.sh OUT.pdf PAGES WIDTH HEIGHT [options]
#     --box X Y W H   rectangle (points, from the lower left corner) that the page
#                     marks are laid out in; the whole sheet by default
#     --frame         a 6-point black frame along the edges of the sheet
#     --red N         on page N (0-based) a red square left and a black square
#                     right, both 15% of the box wide, centred at 55% height
#     --grey G        on every page a block of grey G (0 black to 1 white), 60%
#                     of the box wide and 20% high, from 10% above its bottom
#     --patches       on every page two rows of eight patches across the middle
#                     80% of the box: greys from 7% to 93% black 52-58% of the
#                     box height down from its top, colours 60-66% down
#     --lines         on every page black line art 70-95% down the box: lines
#                     from the thinnest the device draws to 2 points, slanted
#                     lines, circles and text from 4 to 10 points
#
# Page n carries the page mark of the test rasters (testraster::DrawPageMark):
# two black squares, one in slot n % 16 of a row at 10% of the box height and
# one in slot n / 16 of a row at 17%, the 16 slots spread over the middle 80% of
# the box width, each square 80% of a slot wide.  Laying the box out over the
# area that the printed page will show lets testraster::ReadPageMark read the
# number back from the decoded page.
set -eu
out=$1 pages=$2 width=$3 height=$4
shift 4
bx=0 by=0 bw=$width bh=$height frame=0 red=-1 grey="" patches=0 lines=0
while [ $# -gt 0 ]; do
  case $1 in
    --box) bx=$2 by=$3 bw=$4 bh=$5; shift 5 ;;
    --frame) frame=1; shift ;;
    --red) red=$2; shift 2 ;;
    --grey) grey=$2; shift 2 ;;
    --patches) patches=1; shift ;;
    --lines) lines=1; shift ;;
    *) echo "make_test_pdf.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

ps=$(mktemp "${TMPDIR:-/tmp}/zelvar-pdf.XXXXXX")
trap 'rm -f "$ps"' EXIT
{
  cat <<PS
%!PS-Adobe-3.0
%%Pages: $pages
%%EndComments
/W $width def /H $height def
/bx $bx def /by $by def /bw $bw def /bh $bh def
% cx cyt side sq: fills a square centred at x = cx, cyt below the top of the box
/sq { /s exch def /cyt exch def /cx exch def
  cx s 2 div sub by bh add cyt sub s 2 div sub s s rectfill } def
% n mark: the page mark of page n
/mark { /n exch def
  /slotW bw 0.8 mul 16 div def /side slotW 0.8 mul def
  0 setgray
  bx bw 0.1 mul add n 16 mod slotW mul add slotW 2 div add bh 0.10 mul side sq
  bx bw 0.1 mul add n 16 idiv 16 mod slotW mul add slotW 2 div add bh 0.17 mul side sq
} def
/frame { 0 setgray 0 0 W 6 rectfill 0 H 6 sub W 6 rectfill
  0 0 6 H rectfill W 6 sub 0 6 H rectfill } def
/redpair { 1 0 0 setrgbcolor bx bw 0.30 mul add bh 0.55 mul bw 0.15 mul sq
  0 setgray bx bw 0.70 mul add bh 0.55 mul bw 0.15 mul sq } def
/greyblock { setgray bx bw 0.2 mul add by bh 0.1 mul add bw 0.6 mul bh 0.2 mul rectfill } def
% i top bottom patch: fills patch i (0..7) of a row from top to bottom
% (fractions of the box height down from its top) in the current colour
/patch { /b exch def /t exch def /i exch def
  bx bw 0.1 mul add i bw 0.1 mul mul add by bh 1 b sub mul add bw 0.1 mul bh b t sub mul rectfill } def
/patches {
  0 1 7 { /i exch def 1 i 0.86 mul 7 div 0.07 add sub setgray i 0.52 0.58 patch } for
  [ [1 0 0] [0 1 0] [0 0 1] [0 1 1] [1 0 1] [1 1 0] [1 0.5 0] [0.6 0.3 0.1] ]
  0 1 7 { /i exch def dup i get aload pop setrgbcolor i 0.60 0.66 patch } for pop } def
% y: a point fraction of the box height down from its top
/ydown { 1 exch sub bh mul by add } def
/lines { 0 setgray
  0 1 5 { /i exch def [0 0.12 0.24 0.5 1 2] i get setlinewidth
    newpath bx bw 0.1 mul add 0.70 i 0.012 mul add ydown moveto bw 0.35 mul 0 rlineto stroke } for
  0 1 5 { /i exch def [0 0.12 0.24 0.5 1 2] i get setlinewidth
    newpath bx bw 0.5 mul add i bw 0.015 mul mul add 0.70 ydown moveto
    bw 0.03 mul bh -0.07 mul rlineto stroke } for
  0.3 setlinewidth
  1 1 4 { /i exch def newpath bx bw 0.80 mul add 0.76 ydown i bw 0.02 mul mul 0 360 arc stroke } for
  0 1 3 { /i exch def /Times-Roman findfont 4 i 2 mul add scalefont setfont
    bx bw 0.1 mul add 0.80 i 0.035 mul add ydown moveto
    (Line art: the quick brown fox jumps over the lazy dog 0123456789) show } for } def
/label { /n exch def 0 setgray /Helvetica findfont 14 scalefont setfont
  bx bw 0.1 mul add by bh 0.70 mul add moveto (Test page ) show n 10 string cvs show } def
%%EndProlog
PS
  n=0
  while [ $n -lt "$pages" ]; do
    echo "%%Page: $((n + 1)) $((n + 1))"
    echo "<< /PageSize [$width $height] >> setpagedevice"
    echo "$n mark $n label"
    [ "$frame" -eq 1 ] && echo "frame"
    [ "$n" -eq "$red" ] && echo "redpair"
    [ -n "$grey" ] && echo "$grey greyblock"
    [ "$patches" -eq 1 ] && echo "patches"
    [ "$lines" -eq 1 ] && echo "lines"
    echo "showpage"
    n=$((n + 1))
  done
  echo "%%EOF"
} >"$ps"
# No automatic rotation: every page stays portrait, as written.
ps2pdf -dAutoRotatePages=/None -dCompatibilityLevel=1.4 "$ps" "$out"
