#!/bin/sh
# Installs the dependencies, then builds and runs every test three times: plain,
# under AddressSanitizer + UndefinedBehaviorSanitizer, and under ThreadSanitizer.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
for cfg in "build:" "build-asan:address,undefined" "build-tsan:thread"; do
  dir=${cfg%%:*}
  san=${cfg#*:}
  echo "== $dir ${san:-plain}"
  scripts/build.sh "$dir" "$san"
  (cd "$dir" && ctest --output-on-failure -j"$(nproc)")
done
