# shellcheck shell=sh
# Reading printer jobs in the e2e scripts through zelvar-inspect and
# zelvar-pbm-probe; sourced after setting $work (the scratch directory) and
# $build (the build directory).
#
# inspect_job NAME [FILE]: runs the inspector on FILE (NAME.prn in $work by
# default), decodes its pages into $work/NAME/ and leaves what the checks need in
# plain files.  This is the only place that knows the inspector's output:
#   INSPECT_RC          its exit status (0: well formed, every page libjbig's stream)
#   REENCODE_DIFFS      pages whose data is not the stream libjbig makes of them
#   NAME/records.txt    one line per page record: width height paper media tray colours
#                       dots
#   NAME/pjl.txt        one NAME=VALUE line per "@PJL SET" setting
#   NAME/page-NNN.pbm   the decoded pages, in record order
inspect_job() {
  _d=$work/$1
  mkdir -p "$_d"
  "$build/zelvar-inspect" --decode "$_d" --reencode "${2:-$work/$1.prn}" >"$_d/inspect.txt" 2>&1
  INSPECT_RC=$?
  REENCODE_DIFFS=$(grep -c "differs from libjbig" "$_d/inspect.txt")
  awk 'NF == 12 && $1 ~ /^[0-9]+$/ && $2 ~ /^[0-9]+$/ { print $3, $4, $8, $9, $10, $11, $7 }' \
    "$_d/inspect.txt" >"$_d/records.txt"
  awk '/^  [A-Z][A-Z0-9]* +[^ ]/ { print $1 "=" $2 }' "$_d/inspect.txt" >"$_d/pjl.txt"
}
records() { wc -l <"$work/$1/records.txt" | tr -d ' '; }
pjl() { sed -n "s/^$2=//p" "$work/$1/pjl.txt"; }
# record NAME N FIELD: field of the Nth record (from 1): 1 width, 2 height,
# 3 paper code, 4 media code, 5 tray, 6 colours, 7 dots of toner.
record() { sed -n "${2}p" "$work/$1/records.txt" | cut -d' ' -f"$3"; }
# marks NAME [PLANE]: the page number of every decoded page, "B" for a blank
# page, "?" for a page without a readable mark.
marks() {
  for _f in "$work/$1"/page-*.pbm; do
    [ -e "$_f" ] || continue
    _r=$("$build/zelvar-pbm-probe" --plane "${2:-all}" "$_f")
    _m=$(echo "$_r" | sed -n 's/^mark=\(-*[0-9]*\).*/\1/p')
    _ink=$(echo "$_r" | sed -n 's/.* ink=\([0-9]*\).*/\1/p')
    if [ "$_m" -ge 0 ] 2>/dev/null; then printf '%s ' "$_m"
    elif [ "$_ink" = 0 ]; then printf 'B '
    else printf '? '; fi
  done | sed 's/ $//'
}
# geometry NAME: the distinct WIDTHxHEIGHT of all records.
geometry() { awk '{ print $1 "x" $2 }' "$work/$1/records.txt" | sort -u | tr '\n' ' ' | sed 's/ $//'; }
# region NAME N PLANE X0 Y0 X1 Y1: toner share (thousandths) in a region of page N.
region() {
  _f=$(printf '%s/%s/page-%03d.pbm' "$work" "$1" "$2")
  "$build/zelvar-pbm-probe" --plane "$3" "$_f" "$4" "$5" "$6" "$7" | sed -n 's/.* region=\([0-9]*\).*/\1/p'
}
