#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time:
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# SECONDS_PER_TARGET defaults to $ZELVAR_FUZZ_SECONDS or 60; the targets are
# raster_job, job_arguments, inspect and jbig_encoder (all by default).  Each run starts from
# the seed corpus (fuzz/corpus/TARGET) and the kept findings
# (fuzz/regressions/TARGET); new inputs go to a scratch directory.  Any finding
# fails the script: its input is copied to fuzz/regressions/TARGET/, where the
# unit tests (fuzz_regressions_test) replay it once it is committed.
set -e
cd "$(dirname "$0")/.."
seconds=${1:-${ZELVAR_FUZZ_SECONDS:-60}}
[ $# -gt 0 ] && shift
targets=${*:-raster_job job_arguments inspect jbig_encoder}
dir=${ZELVAR_FUZZ_BUILD:-build-fuzz}

cmake -S . -B "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DZELVAR_SANITIZE=address,undefined -DZELVAR_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
for t in $targets; do
  cmake --build "$dir" -j2 --target "fuzz_$t"
done

# A single allocation over 64 MB fails (returns null) instead of being made:
# libcups allocates a compressed stream's line (cupsBytesPerLine, up to 4 GB)
# while it reads a header, before the filter sees it, and under
# AddressSanitizer poisoning and unpoisoning the shadow of such a block cost
# nine tenths of the fuzzing time.  A header claiming a longer line now ends
# the stream inside libcups, as on a machine without that memory; the
# filter's own refusal of such headers is covered by the hostile-input tests.
# libFuzzer's own buffers need about 20 MB.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}:abort_on_error=1:max_allocation_size_mb=64:allocator_may_return_null=1
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}:halt_on_error=1
work=$(mktemp -d "${TMPDIR:-/tmp}/zelvar-fuzzing-XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=""
for t in $targets; do
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts" "$work/$t/tmp" "fuzz/regressions/$t"
  echo "== fuzz_$t for ${seconds}s"
  dict=""
  [ -f "fuzz/$t.dict" ] && dict="-dict=fuzz/$t.dict"
  # One process, one worker; a run of the filter on one input may take at most
  # 30 s (a hang is a finding) and 2 GB of memory in use.
  if TMPDIR="$work/$t/tmp" "$dir/fuzz_$t" -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=2048 -print_final_stats=1 $dict -artifact_prefix="$work/$t/artifacts/" \
    "$work/$t/corpus" "fuzz/corpus/$t" "fuzz/regressions/$t" >"$work/$t/log" 2>&1; then
    tail -n 12 "$work/$t/log"
  else
    failed="$failed $t"
    tail -n 60 "$work/$t/log"
    # What the filter wrote to standard error during the run that failed.
    for e in "$work/$t"/tmp/zelvar-fuzz-*/stderr.txt; do
      [ -f "$e" ] && { echo "-- standard error of the failing run (last lines):"; tail -n 20 "$e"; }
    done
    for a in "$work/$t"/artifacts/*; do
      [ -f "$a" ] || continue
      cp "$a" "fuzz/regressions/$t/"
      echo "finding kept: fuzz/regressions/$t/$(basename "$a")"
    done
  fi
done
if [ -n "$failed" ]; then
  echo "fuzzing found faults in:$failed" >&2
  exit 1
fi
echo "fuzzing found nothing"
