# shellcheck shell=sh
# Checks and bookkeeping shared by the e2e scripts; sourced after cupsd_env.sh.

E2E_PASSED=0
E2E_FAILED=0
E2E_CASE=""

e2e_case() {
  E2E_CASE=$1
  echo "== $1"
}

# check DESCRIPTION COMMAND...: runs the command, counts and reports the result.
check() {
  _desc=$1
  shift
  if "$@"; then
    E2E_PASSED=$((E2E_PASSED + 1))
    echo "  ok    $_desc"
  else
    E2E_FAILED=$((E2E_FAILED + 1))
    echo "  FAIL  [$E2E_CASE] $_desc"
  fi
}

# eq A B: the two texts are equal; says what differed otherwise.
eq() {
  [ "$1" = "$2" ] && return 0
  echo "        got '$1', expected '$2'"
  return 1
}

# ge A B, le A B, lt A B: integer comparisons that report the values.
ge() {
  [ "$1" -ge "$2" ] 2>/dev/null && return 0
  echo "        got $1, expected at least $2"
  return 1
}
le() {
  [ "$1" -le "$2" ] 2>/dev/null && return 0
  echo "        got $1, expected at most $2"
  return 1
}
lt() {
  [ "$1" -lt "$2" ] 2>/dev/null && return 0
  echo "        got $1, expected less than $2"
  return 1
}

# contains TEXT PART: the text holds the part.
contains() {
  case $1 in *"$2"*) return 0 ;; esac
  echo "        got '$1', expected it to hold '$2'"
  return 1
}

# Prerequisites: missing programs are a broken installation (the package lists
# bring them), but cupsd can only be run by root.
e2e_require() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the end-to-end tests start cupsd and must run as root"
    exit 77
  fi
  e2e_need cupsd lp lpstat lpadmin cancel ipptool cups-config ps2pdf
}

# e2e_need PROGRAM...: ends the run when a program is missing.
e2e_need() {
  PATH=$PATH:/usr/sbin:/sbin
  export PATH
  _missing=""
  for p in "$@"; do
    command -v "$p" >/dev/null 2>&1 || _missing="$_missing $p"
  done
  if [ -n "$_missing" ]; then
    echo "FAIL: missing programs:$_missing (scripts/install-deps.sh installs them)"
    exit 1
  fi
}

# The closing line, in the form test runners read, and the exit status.
e2e_finish() {
  echo "$E2E_PASSED passed, $E2E_FAILED failed"
  [ "$E2E_FAILED" -eq 0 ]
}
