#!/bin/sh
# Prints the size of the tests against the code they test, in lines:
#   tests/ and fuzz/ (seed corpora, kept findings and dictionaries aside)
#   against src/ and tools/ (the generated halftone matrix aside).
set -e
cd "$(dirname "$0")/.."
count() { xargs cat | wc -l; }
tests=$(find tests fuzz -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' -o -name '*.py' \) \
  -not -path 'fuzz/corpus/*' -not -path 'fuzz/regressions/*' | count)
code=$(find src tools -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.in' \) \
  -not -name 'halftone_matrix.cpp' | count)
awk -v t="$tests" -v c="$code" \
  'BEGIN { printf "test lines %d, code lines %d: tests are %.2f x the code\n", t, c, t / c }'
