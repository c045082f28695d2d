#!/bin/sh
# Installs the build into a scratch DESTDIR and checks that the filter, the PPD
# and the inspector land where CUPS and the user look for them, with the modes
# cupsd accepts, and that the installed PPD passes cupstestppd with the installed
# filter in place; and that the Printer Application and its systemd unit go where
# the system finds them; and the manual pages of all three.
#   install_layout_test.sh BUILD_DIR SOURCE_DIR FILTER_DIR PPD_DIR BIN_DIR UNIT_DIR MAN_DIR
set -u
build=$1 src=$2 filterdir=$3 ppddir=$4 bindir=$5 unitdir=$6 mandir=$7
root=$(mktemp -d "${TMPDIR:-/tmp}/zelvar-install.XXXXXX")
trap 'rm -rf "$root"' EXIT
passed=0 failed=0
check() {
  desc=$1
  shift
  if "$@"; then passed=$((passed + 1)); echo "ok    $desc"; else failed=$((failed + 1)); echo "FAIL  $desc"; fi
}
mode_is() { [ "$(stat -c %a "$1")" = "$2" ] || { echo "      $1 has mode $(stat -c %a "$1"), not $2"; false; }; }

if ! DESTDIR=$root cmake --install "$build" >"$root.log" 2>&1; then
  cat "$root.log"
  rm -f "$root.log"
  echo "0 passed, 1 failed"
  exit 1
fi
rm -f "$root.log"

filter=$root$filterdir/rastertoZelvar
ppd=$root$ppddir/zelvar.ppd
inspect=$root$bindir/zelvar-inspect

check "the filter is in CUPS's filter directory ($filterdir)" test -f "$filter"
check "it is the filter that was built" cmp -s "$filter" "$build/rastertoZelvar"
check "the filter has mode 755, writable by its owner only" mode_is "$filter" 755
if [ "$(id -u)" -eq 0 ]; then
  check "the filter belongs to root" test "$(stat -c %u "$filter")" = 0
fi
check "the filter directory is not writable by group or others" mode_is "$root$filterdir" 755
check "the PPD is in the model directory ($ppddir)" cmp -s "$ppd" "$src/ppd/zelvar.ppd"
check "the PPD has mode 644" mode_is "$ppd" 644
check "the inspector is on the path ($bindir)" test -x "$inspect"
check "the inspector has mode 755" mode_is "$inspect" 755
app=$root$bindir/zelvar-printer-app
unit=$root$unitdir/zelvar-printer-app.service
check "the Printer Application is on the path ($bindir)" cmp -s "$app" "$build/zelvar-printer-app"
check "the Printer Application has mode 755" mode_is "$app" 755
check "its systemd unit is in $unitdir" test -f "$unit"
check "the unit has mode 644" mode_is "$unit" 644
check "the unit starts the installed application's server" \
  grep -qx "ExecStart=$bindir/zelvar-printer-app server .*" "$unit"
if command -v systemd-analyze >/dev/null 2>&1; then
  check "systemd-analyze verifies the unit" \
    sh -c "sed 's|^ExecStart=[^ ]*|ExecStart=$app|' '$unit' >'$root/zelvar-printer-app.service' &&
           MANPATH='$root$mandir' systemd-analyze verify '$root/zelvar-printer-app.service' >'$root/verify.log' 2>&1 ||
           { cat '$root/verify.log'; false; }"
fi
for page in man8/rastertoZelvar.8 man1/zelvar-inspect.1 man1/zelvar-printer-app.1; do
  check "the manual page $page is in $mandir, mode 644" mode_is "$root$mandir/$page" 644
  # man's own check: groff warnings about the page's markup, and its NAME line.
  check "... man formats it without warnings" sh -c "
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l '$root$mandir/$page' 2>&1 >/dev/null | tee '$root/man.log';
    test ! -s '$root/man.log'"
  # lexgrog reads the whatis entry as mandb and apropos will.
  check "... its whatis entry names it" sh -c "
    lexgrog '$root$mandir/$page' | grep -q ': \"$(basename "$page" | sed 's/[.][18]$//') - '"
done
case $ppddir in
  */share/ppd/*) ok=1 ;;
  *) ok=0 ;;
esac
check "cups-driverd searches the PPD directory (<prefix>/share/ppd)" test $ok = 1
# With the installed tree as its root, cupstestppd finds the filter the PPD names.
check "the installed PPD passes cupstestppd with the filter in place" \
  sh -c "cupstestppd -R '$root' '$ppd' >'$root/cupstestppd.log' 2>&1 || { cat '$root/cupstestppd.log'; false; }"

# The README's command for a CUPS server: with the prefix /usr the PPD goes where
# cups-driverd lists it as lsb/usr/zelvar/zelvar.ppd.
usr=$root/prefix-usr
DESTDIR=$usr cmake --install "$build" --prefix /usr >/dev/null 2>&1
check "with --prefix /usr the PPD goes to /usr/share/ppd/zelvar" \
  test -f "$usr/usr/share/ppd/zelvar/zelvar.ppd"
check "... the inspector to /usr/bin, the filter still to $filterdir" \
  test -x "$usr/usr/bin/zelvar-inspect" -a -x "$usr$filterdir/rastertoZelvar"
check "... the application to /usr/bin, its unit to /usr/lib/systemd/system, naming it there" \
  grep -qx "ExecStart=/usr/bin/zelvar-printer-app server .*" \
  "$usr/usr/lib/systemd/system/zelvar-printer-app.service"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
