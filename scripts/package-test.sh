#!/bin/sh
# Builds the Debian package printer-driver-zelvar from this tree and uses it the
# way a Debian user does:
#   - builds it with dpkg-buildpackage (source and binary) in a scratch copy of
#     the tree, so that the packages and the build land in a scratch directory,
#     and runs lintian on it (no errors, no warnings);
#   - installs it with apt-get; a private cupsd (tests/e2e/cupsd_env.sh), whose
#     filters are the system's, lists the model with lpinfo -m, a queue is made
#     from that model and prints a two-page test PDF, every page checked with
#     zelvar-inspect;
#   - upgrades it with a package of a higher version, built from the same tree
#     and the same build directory (only the changelog differs), and prints
#     again on the same queue, two-sided with collated copies;
#   - runs the installed Printer Application as its systemd unit does (as root,
#     but listening on the loopback address only) and prints through it;
#   - purges it and checks that nothing it installed or made is left.
#
#   scripts/package-test.sh
#
# Exit status 0 when every check passed, 1 otherwise, 77 when it cannot run here
# (not root, or no packaging tools).  It installs and purges a package on this
# machine, so it refuses to run where printer-driver-zelvar is installed, or
# where files it would install are already there; two runs on one machine take
# turns.  ZELVAR_PACKAGE_KEEP=1 keeps the scratch directory (packages, build
# log, printer jobs).  It takes about two minutes on two cores, most of it the
# package's build.
set -u
src=$(cd "$(dirname "$0")/.." && pwd)
. "$src/tests/e2e/cupsd_env.sh"
. "$src/tests/e2e/e2e_common.sh"
. "$src/tests/e2e/inspect_job.sh"
. "$src/tests/e2e/app_env.sh"
. "$src/tests/e2e/app_jobs.sh"

PKG=printer-driver-zelvar
MODEL=lsb/usr/zelvar/zelvar.ppd
FILTER=/usr/lib/cups/filter/rastertoZelvar
UNIT=/lib/systemd/system/zelvar-printer-app.service
LETTER=4928x6400

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the package test installs and purges a package and must run as root"
  exit 77
fi
PATH=$PATH:/usr/sbin:/sbin
_missing=""
for p in dpkg-buildpackage dpkg-checkbuilddeps dh lintian apt-get; do
  command -v "$p" >/dev/null 2>&1 || _missing="$_missing $p"
done
if [ -n "$_missing" ]; then
  echo "SKIP: packaging tools missing:$_missing (scripts/install-deps.sh installs them)"
  exit 77
fi
e2e_need git flock cupsd lp lpstat lpadmin lpinfo ipptool cups-config cupstestppd ps2pdf perl python3

test_started=$(date +%s)
work=$(mktemp -d /tmp/zelvar-package.XXXXXX)
# cupsd's filters (user lp) and apt's downloader (user _apt) read from here.
chmod 0755 "$work"
installed=0 app_pid=""
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -y -q -o Dpkg::Use-Pty=0 "$@"; }
cleanup() {
  if [ -n "$app_pid" ]; then
    kill -TERM "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  cupsd_stop
  # A run that stopped half-way leaves the machine as it found it.
  if [ "$installed" = 1 ] && dpkg-query -W "$PKG" >/dev/null 2>&1; then
    apt_get purge "$PKG" >/dev/null 2>&1
  fi
  if [ "${ZELVAR_PACKAGE_KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() {
  echo "FAIL: $*"
  exit 1
}
# show FILE: the last lines of a log, for a failure.
show() { tail -n "${2:-40}" "$1" | sed 's/^/        /'; }

# ---------------------------------------------------------------------------
e2e_case "build: dpkg-buildpackage -us -uc in a copy of the tree"
# The files git knows (tracked, or new and not ignored), as they are in the
# working tree: no build directory, nothing of a test run.
mkdir "$work/src"
git -C "$src" ls-files --cached --others --exclude-standard >"$work/files.txt" || fail "not a git work tree"
(cd "$src" && while IFS= read -r f; do [ -e "$f" ] && printf '%s\n' "$f"; done <"$work/files.txt" |
  tar -cf - -T -) | tar -xf - -C "$work/src" || fail "cannot copy the tree"
version=$(dpkg-parsechangelog -l "$work/src/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
(cd "$work/src" && dpkg-checkbuilddeps) >"$work/builddeps.log" 2>&1 ||
  { show "$work/builddeps.log"; fail "debian/control's build dependencies are not installed (scripts/install-deps.sh)"; }
# build_package VERSION LOG DPKG-BUILDPACKAGE-ARGS...: builds in the copy, stops
# the test when that fails.
build_package() {
  _version=$1 _log=$2
  shift 2
  _started=$(date +%s)
  (cd "$work/src" && dpkg-buildpackage "$@") >"$_log" 2>&1
  _rc=$?
  echo "        (built in $(($(date +%s) - _started)) s)"
  check "dpkg-buildpackage succeeds" eq "$_rc" 0 || show "$_log"
  [ "$_rc" -eq 0 ] || exit 1
  check "it made $PKG $_version" test -f "$work/${PKG}_${_version}_$arch.deb"
}
build_package "$version" "$work/build.log" -us -uc
deb1=$work/${PKG}_${version}_$arch.deb
check "the build checked that its filter prints (tests/built_filter_check.sh)" \
  grep -qx '[1-9][0-9]* passed, 0 failed' "$work/build.log"
# dpkg-buildpackage writes into the parent of the tree it builds: the scratch
# directory here, never the checkout's parent.
check "the packages are in the scratch directory, none beside the checkout" \
  sh -c "! ls '$src'/../rastertozelvar_* '$src'/../${PKG}_* >/dev/null 2>&1"

e2e_case "lintian"
lintian --fail-on error,warning --display-info "$work/rastertozelvar_${version}_$arch.changes" \
  >"$work/lintian.log" 2>&1
rc=$?
check "no errors, no warnings" eq "$rc" 0
grep -v 'running with root privileges' "$work/lintian.log" | sed 's/^/        /'

# ---------------------------------------------------------------------------
# The upgrade: a package of a higher version from the same tree, binary only;
# without the clean step the build directory is reused, so it costs seconds.
version2=$version+pkgtest1
e2e_case "build: the upgrade, $version2 (dpkg-buildpackage -us -uc -b -nc)"
{
  printf 'rastertozelvar (%s) unstable; urgency=medium\n\n' "$version2"
  printf '  * Built by scripts/package-test.sh, to be installed over %s.\n\n' "$version"
  printf ' -- %s  %s\n\n' "$(dpkg-parsechangelog -l "$work/src/debian/changelog" -S Maintainer)" "$(date -R)"
  cat "$work/src/debian/changelog"
} >"$work/changelog" && cp "$work/changelog" "$work/src/debian/changelog"
build_package "$version2" "$work/build2.log" -us -uc -b -nc
deb2=$work/${PKG}_${version2}_$arch.deb
chmod 0644 "$work"/*.deb

# ---------------------------------------------------------------------------
# From here on the machine's package state changes: one run at a time.
exec 9>/run/lock/zelvar-package-test.lock
flock -w 1800 9 || fail "another package test holds /run/lock/zelvar-package-test.lock"
if dpkg-query -W -f='${db:Status-Status}' "$PKG" 2>/dev/null | grep -qv '^not-installed$'; then
  fail "$PKG is installed on this machine; this test installs and purges it (apt-get purge $PKG first)"
fi
dpkg-deb --fsys-tarfile "$deb1" | tar -tf - | sed -e 's|^\./|/|' -e 's|/$||' -e '/^$/d' | sort \
  >"$work/contents.txt"
: >"$work/present-before.txt"
while IFS= read -r p; do
  if [ -e "$p" ] || [ -L "$p" ]; then
    [ -d "$p" ] || fail "$p is already there (from 'cmake --install'?); the package would replace it and its purge remove it"
    echo "$p" >>"$work/present-before.txt"
  fi
done <"$work/contents.txt"
# Everything named after the driver outside the home and scratch directories: the
# package's files, dpkg's records of it, the systemd helper's state, the
# Printer Application's state and spool.
zelvar_paths() {
  find /etc /var /run /usr /opt -xdev -iname '*zelvar*' -not -path '/var/tmp/*' 2>/dev/null | sort
}
zelvar_paths >"$work/zelvar-before.txt"

e2e_case "install: apt-get install ./$(basename "$deb1")"
installed=1
apt_get install "$deb1" >"$work/install.log" 2>&1
rc=$?
check "apt-get installs it" eq "$rc" 0 || show "$work/install.log"
[ "$rc" -eq 0 ] || exit 1
check "dpkg has it installed" eq "$(dpkg-query -W -f='${Status} ${Version}' "$PKG")" "install ok installed $version"
check "dpkg -L lists what the package holds" \
  sh -c "dpkg -L $PKG | grep -vx '/\\.' | sort | diff '$work/contents.txt' - >/dev/null"
check "the filter is in CUPS's filter directory, root's, mode 755" \
  eq "$(stat -c '%U %a' "$FILTER")" "root 755"
check "the PPD passes cupstestppd with the installed filter" \
  sh -c "cupstestppd /usr/share/ppd/zelvar/zelvar.ppd >'$work/cupstestppd.log' 2>&1 || { cat '$work/cupstestppd.log'; false; }"
for page in rastertoZelvar zelvar-inspect zelvar-printer-app; do
  check "man finds $page's manual page" sh -c "man -w $page >/dev/null 2>&1"
done
check "the Printer Application's unit is installed" test -f "$UNIT"
check "... but not enabled (no link to it in /etc/systemd)" \
  eq "$(find /etc/systemd -name zelvar-printer-app.service 2>/dev/null)" ""
# Root's server is the one the unit would start (comm is cut to 15 characters).
root_app_running() { pgrep -u 0 -f '^(/usr/bin/)?zelvar-printer-app server' >/dev/null; }
check "... and not running" eval '! root_app_running'
if command -v systemctl >/dev/null 2>&1; then
  check "systemctl says it is disabled" eq "$(systemctl is-enabled zelvar-printer-app.service 2>&1)" disabled
fi
if command -v systemd-analyze >/dev/null 2>&1; then
  # It reads the unit's manual page with man; at a width other than 80 man-db
  # keeps no formatted copy of it in /var/cache/man.
  check "systemd-analyze verifies the unit" \
    sh -c "MANWIDTH=100 systemd-analyze verify $UNIT >'$work/verify.log' 2>&1 || { cat '$work/verify.log'; false; }"
fi

# ---------------------------------------------------------------------------
e2e_case "a queue made from the installed model prints"
cupsd_start "$work/cups" || exit 1
check "the private scheduler's filters are the system's, the package's among them" \
  eq "$(readlink "$CUPSD_DIR/serverbin/filter/rastertoZelvar")" "$FILTER"
lpinfo -m >"$work/models.txt" 2>"$work/lpinfo.err"
check "lpinfo -m lists the model once" eq "$(grep -ci zelvar "$work/models.txt")" 1
check "... as $MODEL" eq "$(grep -i zelvar "$work/models.txt" | cut -d' ' -f1)" "$MODEL"
check "... named Zelvar Mono Laser" contains "$(grep -i zelvar "$work/models.txt")" "Zelvar Mono Laser"
out=$work/cups/out/zelvar.prn
cupsd_add_model_queue zelvar "$MODEL" "$out" || exit 1
# cupsd copies the model's PPD for the queue, setting its defaults.
grep -v '^\*Default' /usr/share/ppd/zelvar/zelvar.ppd >"$work/model.ppd"
grep -v '^\*Default' "$CUPSD_DIR/etc/ppd/zelvar.ppd" >"$work/queue.ppd"
check "the queue's PPD is the installed one" sh -c "diff '$work/model.ppd' '$work/queue.ppd'"
sh "$src/tests/e2e/make_test_pdf.sh" "$work/letter2.pdf" 2 612 792 --box 12 12 588 768 ||
  fail "cannot make the test PDF"
chmod 0644 "$work/letter2.pdf"

# The package's tools read the printer jobs back: its inspector, and the page-mark
# reader of its build.
build=$work/tools
mkdir "$build"
ln -s /usr/bin/zelvar-inspect "$build/zelvar-inspect"
ln -s "$work/src/debian/build/zelvar-pbm-probe" "$build/zelvar-pbm-probe"

# print_pdf NAME "MARKS" DUPLEX LP-ARGS...: prints letter2.pdf on the queue and
# checks the printer job page by page.
print_pdf() {
  _name=$1 _marks=$2 _duplex=$3
  shift 3
  : >"$out"
  JOB_STATE=none
  if cupsd_submit zelvar -t "$_name" "$@" "$work/letter2.pdf"; then
    cupsd_wait_job "$JOB_ID" 300
  fi
  cp "$out" "$work/$_name.prn"
  inspect_job "$_name"
  check "job completed" eq "$JOB_STATE" completed
  check "the chain was pdftopdf, gstoraster, rastertoZelvar" \
    eq "$(cupsd_job_log "$JOB_ID" | grep -o 'Started filter [^ ]*' | sed 's|.*/||' | tr '\n' ' ')" \
    "pdftopdf gstoraster rastertoZelvar "
  check "well formed (zelvar-inspect)" eq "$INSPECT_RC" 0
  check "every page is libjbig's stream of it" eq "$REENCODE_DIFFS" 0
  check "pages in order (page marks, B blank)" eq "$(marks "$_name")" "$_marks"
  check "Letter at 600 dpi" eq "$(geometry "$_name")" "$LETTER"
  check "PJL DUPLEX" eq "$(pjl "$_name" DUPLEX)" "$_duplex"
  check "PAGE: lines count every record" eq "$JOB_IMPRESSIONS" "$(records "$_name")"
}
print_pdf installed "0 1" OFF

# ---------------------------------------------------------------------------
e2e_case "upgrade to $version2 with the queue in place"
apt_get install "$deb2" >"$work/upgrade.log" 2>&1
rc=$?
check "apt-get installs it over $version" eq "$rc" 0 || show "$work/upgrade.log"
check "dpkg has $version2 installed" eq "$(dpkg-query -W -f='${Status} ${Version}' "$PKG")" \
  "install ok installed $version2"
check "the queue is still there" sh -c "lpstat -p zelvar >/dev/null 2>&1"
# On a system scheduler, CUPS's package updates the PPD copies of the queues whose
# model the package's ppd-updater file matches (by nick name without its version).
# The same selection, made here on the private scheduler's list and queue:
updater=/usr/share/cups/ppd-updaters/$PKG.ppd-updater
# shellcheck disable=SC1090,SC2153  # the file sets the two variables
regexps=$(. "$updater" && printf '%s\n%s\n' "$DRIVER_REGEXP" "$GENNICKNAME_REGEXP")
driver_regexp=$(echo "$regexps" | sed -n 1p)
gen_regexp=$(echo "$regexps" | sed -n 2p)
nick=$(sed -n 's/^\*NickName: "\(.*\)"$/\1/p' "$CUPSD_DIR/etc/ppd/zelvar.ppd" | perl -pe "$gen_regexp")
check "the ppd-updater file's nick name of the queue's PPD drops the version" eq "$nick" "Zelvar Mono Laser"
check "... and finds the queue's model, and only that, in lpinfo -m" \
  eq "$(lpinfo -m | grep -E "$driver_regexp" | perl -pe "$gen_regexp" |
    awk -v n="$nick" 'substr($0, length($1) + 2) == n { print $1 }')" "$MODEL"
# The printer takes the back of each sheet first.
print_pdf upgraded "1 0 1 0" ON -n 2 -o collate=true -o sides=two-sided-long-edge
cupsd_stop

# ---------------------------------------------------------------------------
e2e_case "the installed Printer Application, as its unit runs it"
exec_start=$(sed -n 's/^ExecStart=//p' "$UNIT")
check "the unit runs the installed application's server" contains "$exec_start" \
  "/usr/bin/zelvar-printer-app server"
port=$(app_free_port)
base=ipp://127.0.0.1:$port
# The unit's command (root's state, spool and socket; the filter it was built
# for), on the loopback address, with no system bus for DNS-SD announcements.
# shellcheck disable=SC2086
env -u ZELVAR_FILTER_PATH DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus" \
  $exec_start -o listen-hostname=127.0.0.1 -o server-port="$port" >"$work/app.out" 2>&1 &
app_pid=$!
app_wait_ready "$base" "$app_pid" "$work" || { show "$work/app.out"; fail "the server did not start"; }
mkdir "$work/app-out"
/usr/bin/zelvar-printer-app add -u "$base/ipp/system" -d zelvar -m zelvar -v "file://$work/app-out" \
  >"$work/app-add.log" 2>&1 || { show "$work/app-add.log"; fail "cannot add a printer"; }
"$work/src/debian/build/zelvar-make-raster" --out "$work/app.pwg" --pwg sgray_8 \
  --media na_letter_8.5x11in --pages 3 --content mark || fail "cannot make the PWG raster"
ipp_print "$base/ipp/print/zelvar" app "$work/app.pwg" image/pwg-raster
check "job completed" eq "$JOB_STATE" completed
inspect_job app "$work/app-out/app.prn"
check "well formed (zelvar-inspect)" eq "$INSPECT_RC" 0
check "every page is libjbig's stream of it" eq "$REENCODE_DIFFS" 0
check "pages in order" eq "$(marks app)" "0 1 2"
check "impressions are the filter's PAGE: count" eq "$JOB_IMPRESSIONS" 3
kill -TERM "$app_pid"
wait "$app_pid"
check "the server stops cleanly on SIGTERM" eq "$?" 0
app_pid=""
check "it kept root's state in /var/lib and spooled in /var/spool" \
  test -f /var/lib/zelvar-printer-app.state -a -d /var/spool/zelvar-printer-app

# ---------------------------------------------------------------------------
e2e_case "purge: apt-get purge $PKG"
dpkg -L "$PKG" | grep -vx '/\.' >"$work/installed.txt"
apt_get purge "$PKG" >"$work/purge.log" 2>&1
rc=$?
check "apt-get purges it" eq "$rc" 0 || show "$work/purge.log"
installed=0
check "dpkg no longer knows it" sh -c "! dpkg-query -W $PKG >/dev/null 2>&1"
left=$(while IFS= read -r p; do
  if { [ -e "$p" ] || [ -L "$p" ]; } && ! grep -qxF "$p" "$work/present-before.txt"; then echo "$p"; fi
done <"$work/installed.txt")
check "nothing dpkg -L listed is left (but the directories that were there before)" eq "$left" ""
check "no file named after the driver is left (the application's state and spool neither)" \
  eq "$(zelvar_paths | diff "$work/zelvar-before.txt" - | sed -n 's/^> //p')" ""

echo "        (the package test took $(($(date +%s) - test_started)) s)"
e2e_finish
