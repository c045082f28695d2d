# shellcheck shell=sh
# A private zelvar-printer-app for end-to-end tests; sourced by the app's e2e
# scripts after e2e_common.sh.
#
# app_start DIR APP FILTER
#     runs APP's server with all its state under DIR (spool directory, state
#     file, log, domain socket), listening on 127.0.0.1 only, on a free port;
#     jobs run FILTER.  Sets APP_PORT and APP_URI_BASE (ipp://127.0.0.1:PORT).
#     It announces nothing on the network: its DNS-SD client finds no system bus.
#     As root the server runs as the unprivileged user lp, the way a per-user
#     application runs, so that nothing of it lands in the system's directories.
# app_wait_ready URI-BASE PID DIR
#     waits until a server started otherwise answers (see below).
# app_cmd SUB-COMMAND [ARGS]...
#     runs one of the application's sub-commands as the server's user.  Give
#     them the server's URI (-u): one that cannot reach the server on its domain
#     socket starts a private server of its own.
# app_add_printer NAME OUTDIR
#     adds a printer whose device is the directory OUTDIR (a file per job, named
#     after the job); sets PRINTER_URI.
# app_add_printer_on NAME DEVICE-URI
#     the same for any device (socket://HOST:PORT for an AppSocket printer).
# app_stop
#     stops the server with SIGTERM (only the process started here); APP_STATUS
#     is its exit status.
# app_filters_running
#     how many filters the server runs at this moment.
# app_log
#     the server's log as far as it reaches: PAPPL starts DIR/app.log anew when
#     it grows past its size limit and keeps the previous one as app.log.O.
# app_fitted_pages JOB_ID
#     how many pages the latest filter of job JOB_ID took on the line-art path
#     (the one that fits pages to the printable area).  Job numbers are the printer's, so another
#     printer's job of the same number may be in the log before it.
#
# The log is DIR/app.log; the server's standard output and error DIR/app.out.

APP_PID=""
APP_DIR=""
APP_BIN=""

app_log() { cat "$APP_DIR/app.log.O" "$APP_DIR/app.log" 2>/dev/null; }
app_fitted_pages() {
  app_log | awk -v started="[Job $1] Started " -v page="[Job $1] rastertoZelvar: ProcessPageImage::page " \
    'index($0, started) { n = 0 } index($0, page) && index($0, " takes the line-art path") { n++ } END { print n + 0 }'
}

# Programs the tests need besides the build's (e2e_common.sh's e2e_need).
app_require() {
  e2e_need ipptool python3 gs setpriv pgrep
}

app_fail() {
  echo "app_env: $*" >&2
  return 1
}

# A port nothing listens on now.
app_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# app_wait_ready URI-BASE PID DIR: waits up to 15 s until the server PID answers
# on URI-BASE (DIR gets the ipptool test); fails when it stops or never answers.
app_wait_ready() {
  cat >"$3/ready.test" <<'TEST'
{
	NAME "the server answers"
	OPERATION Get-System-Attributes
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri system-uri $uri
	STATUS successful-ok
}
TEST
  _i=0
  while [ $_i -lt 150 ] && kill -0 "$2" 2>/dev/null; do
    ipptool -T 2 "$1/ipp/system" "$3/ready.test" >/dev/null 2>&1 && return 0
    sleep 0.1
    _i=$((_i + 1))
  done
  return 1
}

# Runs a command as the server's user, in the server's environment.
app_as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=lp --regid=lp --init-groups --reset-env -- \
      env HOME="$APP_DIR/home" XDG_CONFIG_HOME="$APP_DIR/home" TMPDIR="$APP_DIR/tmp" \
      PATH="$PATH" ZELVAR_FILTER_PATH="$APP_FILTER" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
      UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$APP_DIR/no-bus" "$@"
  else
    env HOME="$APP_DIR/home" XDG_CONFIG_HOME="$APP_DIR/home" TMPDIR="$APP_DIR/tmp" \
      ZELVAR_FILTER_PATH="$APP_FILTER" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$APP_DIR/no-bus" "$@"
  fi
}

app_start() {
  APP_DIR=$1 APP_BIN=$2 APP_FILTER=$3
  mkdir -p "$APP_DIR/home" "$APP_DIR/tmp" "$APP_DIR/spool"
  if [ "$(id -u)" -eq 0 ]; then
    chown lp "$APP_DIR" "$APP_DIR/home" "$APP_DIR/tmp" "$APP_DIR/spool" || return 1
    setpriv --reuid=lp --regid=lp --init-groups -- test -x "$APP_BIN" ||
      { app_fail "user lp cannot run $APP_BIN; make its directories searchable"; return 1; }
  fi
  tries=0
  while [ $tries -lt 5 ]; do
    APP_PORT=$(app_free_port) || return 1
    APP_URI_BASE=ipp://127.0.0.1:$APP_PORT
    # Started as a command of its own (not through a function), so that $! is the
    # server itself: setpriv and env replace themselves with it.
    set -- server -o log-file="$APP_DIR/app.log" -o log-level=debug -o server-port="$APP_PORT" \
      -o listen-hostname=127.0.0.1 -o spool-directory="$APP_DIR/spool"
    if [ "$(id -u)" -eq 0 ]; then
      setpriv --reuid=lp --regid=lp --init-groups --reset-env -- \
        env HOME="$APP_DIR/home" XDG_CONFIG_HOME="$APP_DIR/home" TMPDIR="$APP_DIR/tmp" \
        PATH="$PATH" ZELVAR_FILTER_PATH="$APP_FILTER" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
        UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$APP_DIR/no-bus" \
        "$APP_BIN" "$@" >"$APP_DIR/app.out" 2>&1 &
    else
      env HOME="$APP_DIR/home" XDG_CONFIG_HOME="$APP_DIR/home" TMPDIR="$APP_DIR/tmp" \
        ZELVAR_FILTER_PATH="$APP_FILTER" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$APP_DIR/no-bus" \
        "$APP_BIN" "$@" >"$APP_DIR/app.out" 2>&1 &
    fi
    APP_PID=$!
    app_wait_ready "$APP_URI_BASE" "$APP_PID" "$APP_DIR" && return 0
    # Another process may have taken the port in between: try again.
    app_stop
    tries=$((tries + 1))
  done
  cat "$APP_DIR/app.out" >&2
  app_fail "zelvar-printer-app did not start"
}

app_cmd() {
  app_as_user "$APP_BIN" "$@"
}

app_add_printer() {
  mkdir -p "$2"
  [ "$(id -u)" -ne 0 ] || chown lp "$2"
  app_add_printer_on "$1" "file://$2"
}

app_add_printer_on() {
  # Over TCP to the system URI: a sub-command that cannot reach the server on its
  # domain socket would start a private server of its own.
  app_cmd add -u "$APP_URI_BASE/ipp/system" -d "$1" -m zelvar -v "$2" >"$APP_DIR/add.out" 2>&1 ||
    { cat "$APP_DIR/add.out" >&2; return 1; }
  PRINTER_URI=$APP_URI_BASE/ipp/print/$1
}

app_stop() {
  [ -n "$APP_PID" ] || return 0
  # As the service manager stops it.  (The shutdown sub-command is noticed only
  # when the server's main loop next wakes, up to half a minute later.)
  kill -TERM "$APP_PID" 2>/dev/null
  i=0
  while kill -0 "$APP_PID" 2>/dev/null && [ $i -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  kill -9 "$APP_PID" 2>/dev/null
  wait "$APP_PID" 2>/dev/null
  APP_STATUS=$?
  APP_PID=""
}

app_filters_running() {
  pgrep -c -P "$APP_PID" -x rastertoZelvar
}
