#!/bin/sh
# Installs the dependencies, then builds and runs the tests three times: plain,
# under AddressSanitizer + UndefinedBehaviorSanitizer, and under ThreadSanitizer,
# runs each fuzz target for $ZELVAR_FUZZ_SECONDS (default 30) seconds, builds and
# tests the Debian package (scripts/package-test.sh), and last runs the demo.
# Any sanitizer report, fuzzing finding, package failure or failed demo fails
# the run.
#
# Each build runs the suites where they can find something the others cannot:
# the end-to-end suites (a private cupsd printing PDFs) run in the
# AddressSanitizer build, whose filter and Printer Application print the same
# bytes as the plain ones and are checked for memory faults on the way; the
# hostile-input tables (hundreds of malformed headers and cut streams, a test of
# the reader) run in the plain and AddressSanitizer builds and are left out of
# the ThreadSanitizer one, where the page-order, cancel, spool and fault tests
# drive the threads through the same endings.
set -e
cd "$(dirname "$0")/.."
# Each stage's heading carries the seconds since the start, so a run's log shows
# where its time went.
started=$(date +%s)
stage() { echo "== $* (at $(($(date +%s) - started)) s)"; }
scripts/install-deps.sh
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
stage "test size"
scripts/test-ratio.sh

# ThreadSanitizer needs the memory layout it was built for; on kernels with more
# address-space randomisation than its runtime accepts, its programs stop with
# "unexpected memory mapping".  Such runs go through `setarch -R` (randomisation
# off for the test processes only).
tsan_prefix() {
  probe_dir=$(mktemp -d)
  printf 'int main(void) { return 0; }\n' >"$probe_dir/probe.c"
  prefix=""
  if cc -fsanitize=thread "$probe_dir/probe.c" -o "$probe_dir/probe" 2>/dev/null &&
    ! "$probe_dir/probe" >/dev/null 2>&1; then
    prefix="setarch $(uname -m) -R"
    echo "ThreadSanitizer: address-space randomisation turned off for the tests" >&2
  fi
  rm -rf "$probe_dir"
  echo "$prefix"
}

for cfg in "build::-LE e2e" "build-asan:address,undefined:" "build-tsan:thread:-E ^HostileInput[.]"; do
  dir=${cfg%%:*}
  rest=${cfg#*:}
  san=${rest%%:*}
  select=${rest#*:}
  stage "$dir ${san:-plain} ${select}"
  scripts/build.sh "$dir" "$san"
  prefix=""
  [ "$san" = thread ] && prefix=$(tsan_prefix)
  (cd "$dir" && $prefix ctest --output-on-failure -j"$(nproc)" $select)
done

stage fuzzing
scripts/fuzz.sh "${ZELVAR_FUZZ_SECONDS:-30}"

# The Debian package, where the packaging tools are (install-deps puts them
# there): built once, checked with lintian, installed, printed through a private
# cupsd, upgraded, purged (about two minutes).  It skips (77) when not root.
if command -v dpkg-buildpackage >/dev/null 2>&1; then
  stage package
  package_status=0
  scripts/package-test.sh || package_status=$?
  [ "$package_status" -eq 0 ] || [ "$package_status" -eq 77 ] || exit "$package_status"
fi

# The README's first command must print the sample cleanly, and must say so when
# it cannot: with a queue whose filter is missing it has to fail.
stage demo
demo_check=$(mktemp -d)
sed 's/ rastertoZelvar"$/ rastertoZelvarMissing"/' ppd/zelvar.ppd >"$demo_check/missing-filter.ppd"
grep -q 'rastertoZelvarMissing"$' "$demo_check/missing-filter.ppd"
if ZELVAR_DEMO_PPD="$demo_check/missing-filter.ppd" scripts/demo.sh >"$demo_check/demo.log" 2>&1; then
  cat "$demo_check/demo.log"
  echo "FAIL: scripts/demo.sh exited with 0 for a job whose filter is missing" >&2
  rm -rf "$demo_check"
  exit 1
fi
echo "scripts/demo.sh fails as it should for a queue whose filter is missing:"
tail -n 1 "$demo_check/demo.log"
rm -rf "$demo_check"
scripts/demo.sh
stage "all passed"
