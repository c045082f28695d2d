#!/bin/bash
# Writes the fuzzers' seed corpus into fuzz/corpus/ from a plain build:
#   fuzz/make_corpus.sh [BUILD_DIR]          (default: build)
#
# raster_job/     small raster jobs written by zelvar-make-raster (libcups's own
#                 writer): one and two colours, 8 and 24 bits, several sizes,
#                 duplex, copies, compressed streams.  Pages are a few dozen
#                 pixels (sizes in points at 72 dpi), so every file is a few KB.
# job_arguments/  queue, job id, user, title, copies and options, separated by
#                 zero bytes, as fuzz_job_arguments reads them.
# inspect/        the printer jobs rastertoZelvar writes for the raster seeds.
# jbig_encoder/   1-bit pages as fuzz_jbig_encoder reads them (raw bytes or
#                 painter steps, see fuzz/entries/jbig_encoder_entry.cpp).
#
# The files are kept in the repository; run this again only to change them.
# bash, for "exec -a", which gives the filter the queue name as argv[0].
set -e
cd "$(dirname "$0")/.."
build=${1:-build}
make_raster="$build/zelvar-make-raster"
filter="$build/rastertoZelvar"
[ -x "$make_raster" ] && [ -x "$filter" ] || {
  echo "build the project first (scripts/build.sh $build)" >&2
  exit 1
}
corpus=fuzz/corpus
rm -rf "$corpus"
mkdir -p "$corpus/raster_job" "$corpus/job_arguments" "$corpus/inspect" "$corpus/jbig_encoder"

raster() {
  name=$1
  shift
  "$make_raster" --out "$corpus/raster_job/$name.ras" --dpi 72 "$@"
}
raster grey8-40x30 --size 40x30 --depth 8
raster rgb24-40x30 --size 40x30 --depth 24
raster rgb24-40x16-2pages --size 40x16 --depth 24 --pages 2
raster grey8-33x17-3pages --size 33x17 --depth 8 --pages 3
raster twocolour-40x32 --size 40x32 --depth 24 --two-colour
raster twocolour-24x24-level --size 24x24 --depth 24 --two-colour --pages 2
raster duplex-grey8-3pages --size 32x24 --depth 8 --pages 3 --duplex --tumble
raster duplex-rgb24-2pages --size 30x30 --depth 24 --pages 2 --duplex
raster copies3-collate --size 32x16 --depth 24 --copies 3 --collate
raster copies2-grey8 --size 16x16 --depth 8 --copies 2
raster scaled-rgb24 --size 48x48 --depth 24 --scale
raster margins-rgb24 --size 60x60 --depth 24 --margins
raster invert-mirror-grey8 --size 40x20 --depth 8 --invert --mirror --toner-save
raster media-tray-density --size 36x36 --depth 24 --media-type 5 --tray 2 --density 7
raster compressed-rgb24-2pages --size 32x24 --depth 24 --pages 2 --compressed --content photo
raster compressed-grey8 --size 80x40 --depth 8 --compressed --content blank
raster compressed-twocolour --size 48x32 --depth 24 --two-colour --compressed
raster a5-6dpi --size a5 --depth 8 --content blank --dpi 6

# Arguments: queue, job id, user, title, copies, options.
args() {
  name=$1
  shift
  printf "%s\0%s\0%s\0%s\0%s\0%s" "$@" >"$corpus/job_arguments/$name.args"
}
args plain zelvar 42 alice "Quarterly report" 1 ""
args collate zelvar 7 bob report.pdf 3 "number-up=4 Collate=True sides=two-sided-long-edge"
args quoted zelvar 8 carol "a 'quoted' \"title\"" 2 "job-name='x y' media=A4 Collate=\"true\""
args pjl-title zelvar 9 dave "$(printf 'x\r\n@PJL SET DUPLEX=ON')" 1 "number-up=2x"
args braces zelvar 10 eve "{}" 1 "finishings={4 5} job-sheets=none,none"
args utf8 "zelvar-2" 11 "Ünïcødé" "Grüße – 日本語" 1 "Collate=yes number-up=x2"

# Pages for the encoders: width - 1 and height - 1 with the mode bits, each
# little-endian, then the page's bytes or painter steps.
page() { printf "$2" >"$corpus/jbig_encoder/$1.page"; }
page raw-61x7 '\x3c\x00\x06\x00The quick brown fox jumps over the lazy dog, twice: The quick'
page raw-repeated-black-100x20 '\x63\x00\x13\x40\xff'
page raw-final-ff-28x1 '\x1b\x00\x00\x00\x7a\x9c\x16\x80'
page painter-sparse-2048x64 '\xff\x07\x3f\x80\x88\x13\x80\x2c\x01\x81\xff\xff\x00\x07\x00\xff\x40\x9c\x01\xff\xff\x00\xff\xff\x00\x10\x00\x3c'
page painter-late-dot-60000x2 '\x5f\xea\x01\x80\x56\xea\x80'

# The filter's output for each raster seed (fixed arguments, no PPD).
for f in "$corpus"/raster_job/*.ras; do
  name=$(basename "$f" .ras)
  env -u PPD bash -c 'exec -a zelvar "$0" 42 alice "Seed job" 1 "" "$1"' "$filter" "$f" \
    >"$corpus/inspect/$name.job" 2>/dev/null || rm -f "$corpus/inspect/$name.job"
done
ls -l "$corpus"/* | awk '{ s += $5 } END { print "corpus bytes:", s }'
