#!/bin/bash
# Prints the same corpus of jobs with the filter of a git revision and with the
# working tree's filter, and compares what each run hands on:
#   scripts/output-corpus.sh [REVISION]        (REVISION defaults to main)
# For every job the sha256 of standard output, the exit status and the PAGE:
# and ERROR: lines of standard error must be the same; the script lists the
# jobs that differ and exits 1 if any does.  ZELVAR_CORPUS_KEEP=DIR keeps the
# rasters and the outputs in DIR.  Nothing is stored between runs
# but the two builds: build-corpus/base-COMMIT (the revision, from git archive)
# and build-corpus/worktree, both plain builds of the targets needed.  The
# rasters are written by the working tree's zelvar-make-raster (libcups's
# writer) into a scratch directory.  The job header carries the date, the time
# and a millisecond tick, so the filter runs on a fixed clock
# (scripts/corpus/fixed_clock.c, preloaded).
set -eu
cd "$(dirname "$0")/.."
rev=${1:-main}
sha=$(git rev-parse --verify "$rev^{commit}")
root=$PWD/build-corpus
jobs=$(nproc)

base=$root/base-$sha
if [ ! -x "$base/build/rastertoZelvar" ]; then
  rm -rf "$base"
  mkdir -p "$base/src"
  git archive "$sha" | tar -x -C "$base/src"
  cmake -S "$base/src" -B "$base/build" -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$base/build" -j"$jobs" --target rastertoZelvar >/dev/null
fi
cur=$root/worktree
cmake -S . -B "$cur" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$cur" -j"$jobs" --target rastertoZelvar zelvar-make-raster >/dev/null

if [ -n "${ZELVAR_CORPUS_KEEP:-}" ]; then
  work=$ZELVAR_CORPUS_KEEP
  rm -rf "$work"
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/zelvar-corpus.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
ras=$work/rasters
mkdir -p "$ras"

# mk NAME ARGS...: a raster job written by zelvar-make-raster.
mk() {
  local name=$1
  shift
  "$cur/zelvar-make-raster" --out "$ras/$name.ras" "$@"
}

# Rasters.  Most pages are 300 dpi or small sheets, so that the corpus stays
# quick; the 600-dpi ones are A6.
mk rgb-text --depth 24 --dpi 300 --size a5 --content text --pages 2
mk rgb-photo-letter --depth 24 --dpi 300 --size letter --content photo
mk srgb-photo --depth 24 --colour-space srgb --dpi 300 --size a5 --content photo
mk rgb-a6-600 --depth 24 --dpi 600 --size a6 --content text
mk rgb-legal --depth 24 --dpi 300 --size legal --content text
mk rgb-a4-margins --depth 24 --dpi 300 --size a4 --content photo --margins
mk rgb-custom-scale --depth 24 --dpi 300 --size 250x380 --content photo --scale
mk rgb-custom-crop --depth 24 --dpi 300 --size 700x500 --content text
mk rgb-compressed --depth 24 --dpi 300 --size a5 --content text --pages 2 --compressed
mk twocolour --depth 24 --dpi 300 --size a5 --content text --two-colour --pages 2
mk twocolour-level --depth 24 --dpi 300 --size a6 --content photo --two-colour --colour-level 60
mk colour-mode2 --depth 24 --dpi 300 --size a6 --content text --colour-mode 2
mk twocolour-invert-mirror --depth 24 --dpi 300 --size a6 --content text --two-colour --invert --mirror
mk sw-lineart --depth 8 --colour-space sw --line-art --dpi 300 --size a5 --content text --pages 2
mk sw-lineart-600 --depth 8 --colour-space sw --line-art --dpi 600 --size a6 --content text
mk sw-plain --depth 8 --colour-space sw --dpi 300 --size a6 --content photo
mk w-plain --depth 8 --colour-space w --dpi 300 --size a6 --content photo
mk k-photo --depth 8 --dpi 300 --size a5 --content photo
mk k-compressed --depth 8 --dpi 300 --size a5 --content photo --compressed --pages 2
for d in 1 2 3 4 5; do
  mk k-density$d --depth 8 --dpi 300 --size a6 --content photo --density $d
  mk rgb-density$d --depth 24 --dpi 300 --size a6 --content photo --density $d
done
mk k-tonersave --depth 8 --dpi 300 --size a6 --content photo --toner-save
mk rgb-tonersave --depth 24 --dpi 300 --size a6 --content text --toner-save
mk k-invert --depth 8 --dpi 300 --size a6 --content text --invert
mk k-mirror --depth 8 --dpi 300 --size a6 --content text --mirror
mk rgb-invert-mirror --depth 24 --dpi 300 --size a6 --content text --invert --mirror
mk lineart-invert-mirror --depth 8 --colour-space sw --line-art --dpi 300 --size a6 --content text --invert --mirror
for t in 0 1 2 3 4 7 250 9999; do
  mk tray$t --depth 8 --dpi 300 --size a6 --content mark --tray $t
done
for m in 0 1 2 3 5 8 200; do
  mk media$m --depth 8 --dpi 300 --size a6 --content mark --media-type $m
done
mk duplex-long-3 --depth 8 --dpi 300 --size a6 --content text --pages 3 --duplex
mk duplex-short-3 --depth 24 --dpi 300 --size a6 --content text --pages 3 --duplex --tumble
mk duplex-long-2 --depth 24 --dpi 300 --size a5 --content text --pages 2 --duplex
mk duplex-collate-5 --depth 8 --dpi 300 --size a6 --content text --pages 5 --duplex --copies 2 --collate
mk copies2-collate-3 --depth 8 --dpi 300 --size a6 --content text --pages 3 --copies 2 --collate
mk copies3-uncollated-2 --depth 8 --dpi 300 --size a6 --content text --pages 2 --copies 3
mk copies2-twocolour --depth 24 --dpi 300 --size a6 --content text --pages 2 --copies 2 --collate --two-colour
# Spooled pages whose records are larger than 64 KB: fine halftone at 600 dpi.
mk big-duplex --depth 8 --dpi 600 --size a5 --content photo --pages 3 --duplex
mk big-collate --depth 24 --dpi 600 --size a6 --content photo --pages 2 --copies 2 --collate
mk many-pages --depth 8 --dpi 300 --size 100x100 --content mark --pages 40
mk blank --depth 8 --dpi 300 --size a6 --content blank --pages 2
# Headers the filter refuses, on page 1 and on page 3 after two good pages (a
# second raster's pages appended without its sync word).
mk refused --depth 8 --dpi 300 --size a6 --content mark --two-colour
mk refused-bits --pwg black_1 --media iso_a6_105x148mm --dpi 300
mk good2 --depth 8 --dpi 300 --size a6 --content text --pages 2
{ cat "$ras/good2.ras"; tail -c +5 "$ras/refused.ras"; } >"$ras/refused-page3.ras"
{ cat "$ras/good2.ras"; tail -c +5 "$ras/refused-bits.ras"; } >"$ras/refused-bits-page3.ras"
# Streams cut inside a page's pixels, inside a header, and an empty stream.
size=$(stat -c %s "$ras/good2.ras")
head -c $((size * 3 / 4)) "$ras/good2.ras" >"$ras/cut-page2.ras"
head -c $((size / 4)) "$ras/good2.ras" >"$ras/cut-page1.ras"
head -c 700 "$ras/good2.ras" >"$ras/cut-header.ras"
: >"$ras/empty.ras"
head -c 3000 /dev/urandom >"$ras/noise.ras"
mk pwg-srgb --pwg srgb_8 --media iso_a6_105x148mm --dpi 300 --content text --red 0
mk pwg-sgray --pwg sgray_8 --media iso_a6_105x148mm --dpi 300 --content text

# PPDs: the driver's, one with job-control text, one that is not a PPD.
ppds=$work/ppds
mkdir -p "$ppds"
cp ppd/zelvar.ppd "$ppds/zelvar.ppd"
sed 's/^\*DefaultCollate: False/*DefaultCollate: True/' ppd/zelvar.ppd >"$ppds/collate.ppd"
printf '*JCLBegin: "@PJL SET HOLD=OFF<0A>"\n' | cat ppd/zelvar.ppd - >"$ppds/jcl.ppd"
printf 'this is not a PPD\n\x00\x01' >"$ppds/bogus.ppd"

# run FILTER OUTDIR NAME INPUT COPIES OPTIONS [VAR=VALUE...]: one job.  INPUT is a
# raster name, "stdin:NAME" (through a pipe), "none" (six arguments) or "args:N"
# (N arguments in all).
run() {
  local filter=$1 out=$2/$3 input=$4 copies=$5 opts=$6
  shift 6
  mkdir -p "$out/tmp"
  local -a env=(PATH=/usr/bin:/bin LC_ALL=C TZ=UTC HOME="$out" CUPS_SERVER=/nonexistent/socket
    TMPDIR="$out/tmp" PPD="$ppds/zelvar.ppd" LD_PRELOAD="$work/fixed_clock.so" "$@")
  local -a args=(zelvar-queue 42 alice "Corpus job" "$copies" "$opts")
  local rc=0
  case $input in
    stdin:*)
      cat "$ras/${input#stdin:}.ras" | env -i "${env[@]}" bash -c 'exec -a "$@"' _ "${args[0]}" \
        "$filter" "${args[@]:1}" >"$out/stdout" 2>"$out/stderr" || rc=$?
      ;;
    none)
      env -i "${env[@]}" bash -c 'exec -a "$@"' _ "${args[0]}" "$filter" "${args[@]:1}" \
        <"$ras/good2.ras" >"$out/stdout" 2>"$out/stderr" || rc=$?
      ;;
    args:*)
      env -i "${env[@]}" bash -c 'exec -a "$@"' _ "${args[0]}" "$filter" \
        "${args[@]:1:$((${input#args:} - 1))}" </dev/null >"$out/stdout" 2>"$out/stderr" || rc=$?
      ;;
    *)
      local file=$ras/$input.ras
      [ -e "$file" ] || file=$input
      env -i "${env[@]}" bash -c 'exec -a "$@"' _ "${args[0]}" "$filter" "${args[@]:1}" "$file" \
        </dev/null >"$out/stdout" 2>"$out/stderr" || rc=$?
      ;;
  esac
  {
    sha256sum <"$out/stdout" | cut -d' ' -f1
    echo "exit $rc"
    # Each kind in its order; a page's PAGE: line and a later page's ERROR: line
    # come from different threads.
    grep -a '^PAGE:' "$out/stderr" || true
    grep -a '^ERROR:' "$out/stderr" || true
  } >"$out/summary"
}

cc -shared -fPIC -O2 -o "$work/fixed_clock.so" scripts/corpus/fixed_clock.c -ldl

# The jobs: NAME INPUT COPIES OPTIONS [VAR=VALUE...].
corpus() {
  cat <<'EOF'
rgb-text rgb-text 1 -
rgb-photo-letter rgb-photo-letter 1 -
srgb-photo srgb-photo 1 -
rgb-a6-600 rgb-a6-600 1 -
rgb-legal rgb-legal 1 -
rgb-a4-margins rgb-a4-margins 1 -
rgb-custom-scale rgb-custom-scale 1 -
rgb-custom-crop rgb-custom-crop 1 -
rgb-compressed rgb-compressed 1 -
twocolour twocolour 1 -
twocolour-libjbig twocolour 1 - ZELVAR_JBIG_ENCODER=libjbig
twocolour-level twocolour-level 1 -
twocolour-invert-mirror twocolour-invert-mirror 1 -
colour-mode2 colour-mode2 1 -
sw-lineart sw-lineart 1 -
sw-lineart-1thread sw-lineart 1 - ZELVAR_IMAGE_THREADS=1
sw-lineart-600 sw-lineart-600 1 -
sw-plain sw-plain 1 -
w-plain w-plain 1 -
k-photo k-photo 1 -
k-photo-libjbig k-photo 1 - ZELVAR_JBIG_ENCODER=libjbig
k-compressed k-compressed 1 -
k-density1 k-density1 1 -
k-density2 k-density2 1 -
k-density3 k-density3 1 -
k-density4 k-density4 1 -
k-density5 k-density5 1 -
rgb-density1 rgb-density1 1 -
rgb-density2 rgb-density2 1 -
rgb-density3 rgb-density3 1 -
rgb-density4 rgb-density4 1 -
rgb-density5 rgb-density5 1 -
k-tonersave k-tonersave 1 -
rgb-tonersave rgb-tonersave 1 -
k-invert k-invert 1 -
k-mirror k-mirror 1 -
rgb-invert-mirror rgb-invert-mirror 1 -
lineart-invert-mirror lineart-invert-mirror 1 -
tray0 tray0 1 -
tray1 tray1 1 -
tray2 tray2 1 -
tray3 tray3 1 -
tray4 tray4 1 -
tray7 tray7 1 -
tray250 tray250 1 -
tray9999 tray9999 1 -
media0 media0 1 -
media1 media1 1 -
media2 media2 1 -
media3 media3 1 -
media5 media5 1 -
media8 media8 1 -
media200 media200 1 -
duplex-long-3 duplex-long-3 1 -
duplex-short-3 duplex-short-3 1 -
duplex-long-2 duplex-long-2 1 -
duplex-collate-5 duplex-collate-5 2 Collate=true
duplex-collate-5-threads3 duplex-collate-5 2 Collate=true ZELVAR_IMAGE_THREADS=3
copies2-collate-3 copies2-collate-3 2 Collate=true
copies2-collate-3-ppd-default copies2-collate-3 2 - PPD=@ppds/collate.ppd
copies2-collate-3-libjbig copies2-collate-3 2 Collate=true ZELVAR_JBIG_ENCODER=libjbig
copies3-uncollated-2 copies3-uncollated-2 3 Collate=false
copies3-uncollated-2-noppd copies3-uncollated-2 3 - PPD=
copies2-twocolour copies2-twocolour 2 Collate=true
big-duplex big-duplex 1 -
big-duplex-1thread big-duplex 1 - ZELVAR_IMAGE_THREADS=1
big-duplex-libjbig big-duplex 1 - ZELVAR_JBIG_ENCODER=libjbig
big-collate big-collate 2 Collate=true
big-collate-nospool big-collate 2 Collate=true TMPDIR=/nonexistent/dir
many-pages many-pages 1 -
many-pages-2threads many-pages 1 - ZELVAR_IMAGE_THREADS=2
blank blank 1 -
number-up2 good2 1 number-up=2
odd-title-options good2 1 number-up=4_Collate=yes_job-name=x
refused refused 1 -
refused-page3 refused-page3 1 -
refused-bits-page3 refused-bits-page3 1 -
cut-page2 cut-page2 1 -
cut-page1 cut-page1 1 -
cut-header cut-header 1 -
empty empty 1 -
noise noise 1 -
pwg-srgb pwg-srgb 1 -
pwg-sgray pwg-sgray 1 -
stdin-pipe stdin:rgb-text 1 -
stdin-cut stdin:cut-page2 1 -
stdin-six-args none 1 -
missing-file /nonexistent/job.ras 1 -
usage-five-args args:5 1 -
ppd-missing good2 1 - PPD=/nonexistent/zelvar.ppd
ppd-bogus good2 1 - PPD=@ppds/bogus.ppd
ppd-jcl good2 1 - PPD=@ppds/jcl.ppd
EOF
}

failed=0
total=0
while read -r name input copies opts vars; do
  opts=${opts//_/ }
  [ "$opts" = - ] && opts=""
  vars=${vars//@ppds/$ppds}
  # shellcheck disable=SC2086
  run "$base/build/rastertoZelvar" "$work/base" "$name" "$input" "$copies" "$opts" $vars
  # shellcheck disable=SC2086
  run "$cur/rastertoZelvar" "$work/worktree" "$name" "$input" "$copies" "$opts" $vars
  total=$((total + 1))
  if ! cmp -s "$work/base/$name/summary" "$work/worktree/$name/summary"; then
    failed=$((failed + 1))
    echo "DIFFERS: $name"
    diff "$work/base/$name/summary" "$work/worktree/$name/summary" | head -n 20 || true
  elif [ -n "${ZELVAR_CORPUS_VERBOSE:-}" ]; then
    echo "same: $name $(head -n 2 "$work/worktree/$name/summary" | tr '\n' ' ')"
  fi
done < <(corpus)
echo "output corpus: $total jobs, $failed differ ($rev ${sha:0:10} vs working tree)"
[ "$failed" -eq 0 ]
