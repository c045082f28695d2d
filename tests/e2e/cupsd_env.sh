# shellcheck shell=sh
# A private CUPS scheduler for end-to-end tests; sourced by the e2e scripts.
#
# cupsd_start DIR [PROGRAM[:NAME]]...
#     lays out a complete CUPS server under DIR: its own ServerRoot, RequestRoot,
#     cache, state and log directories, and a ServerBin that holds the system's
#     filters and backends plus the given programs (installed as filters, under
#     NAME if given).  Starts cupsd listening only on the Unix socket
#     DIR/cupsd.sock and exports CUPS_SERVER, so that lp, lpstat, lpadmin and
#     cancel talk to it.
# cupsd_stop
#     stops that cupsd (only the process started here); always succeeds.
# cupsd_add_queue NAME PPD OUTFILE
#     adds an enabled queue with the PPD whose device writes to OUTFILE.
# cupsd_add_model_queue NAME MODEL OUTFILE
#     the same with a model that `lpinfo -m` lists (the driver as installed on
#     the system: cups-driverd finds its PPD, the scheduler runs the filters of
#     the system's filter directory, which ServerBin links to).
# cupsd_add_backend_queue NAME PPD BACKEND SCHEME OUTFILE
#     adds an enabled queue with the PPD whose device is the backend program
#     BACKEND, installed as the backend of the URI scheme SCHEME (run as root, as
#     cupsd runs backends that only root may execute); its device URI is
#     SCHEME:OUTFILE.
# cupsd_submit QUEUE LP-ARGS...
#     submits a job with lp; sets JOB_ID.
# cupsd_wait_job ID TIMEOUT
#     waits until the job has ended; sets JOB_STATE (completed, canceled,
#     aborted, processing-stopped when a filter failed, or timeout) and
#     JOB_IMPRESSIONS (the pages the filters reported with "PAGE:" lines).
# cupsd_job_log ID
#     the scheduler's log lines for the job.
#
# cupsd insists on running as root: it starts the filters as the unprivileged
# user lp and refuses filter programs that root does not own or that group or
# others may change.

# JOB_ID, JOB_STATE and JOB_IMPRESSIONS are read by the scripts that source this.
# shellcheck disable=SC2034

CUPSD_PID=""
CUPSD_DIR=""

cupsd_fail() {
  echo "cupsd_env: $*" >&2
  return 1
}

cupsd_start() {
  CUPSD_DIR=$1
  shift
  [ "$(id -u)" -eq 0 ] || { cupsd_fail "cupsd must run as root"; return 1; }
  id lp >/dev/null 2>&1 || { cupsd_fail "there is no user lp for the filters"; return 1; }
  sysbin=$(cups-config --serverbin)
  sysdata=$(cups-config --datadir)

  # The filters run as lp, so every directory on their way must be searchable.
  mkdir -p "$CUPSD_DIR"
  chmod 0755 "$CUPSD_DIR"
  if command -v runuser >/dev/null 2>&1 && ! runuser -u lp -- test -x "$CUPSD_DIR"; then
    cupsd_fail "user lp cannot reach $CUPSD_DIR; make its parent directories searchable"
    return 1
  fi
  for d in etc spool spool/tmp cache state log out serverbin serverbin/filter \
    serverbin/backend; do
    mkdir -p "$CUPSD_DIR/$d"
  done
  chmod 0755 "$CUPSD_DIR" "$CUPSD_DIR/etc" "$CUPSD_DIR/out" "$CUPSD_DIR/serverbin" \
    "$CUPSD_DIR/serverbin/filter" "$CUPSD_DIR/serverbin/backend"
  # The system's filters and backends, and the scheduler's helpers (cups-exec
  # among them).  file: devices need no backend, cupsd writes them itself.
  for f in "$sysbin"/filter/*; do
    ln -sf "$f" "$CUPSD_DIR/serverbin/filter/"
  done
  for f in "$sysbin"/backend/*; do
    if [ -e "$f" ]; then ln -sf "$f" "$CUPSD_DIR/serverbin/backend/"; fi
  done
  for d in cgi-bin daemon driver monitor notifier; do
    if [ -e "$sysbin/$d" ]; then ln -sfn "$sysbin/$d" "$CUPSD_DIR/serverbin/$d"; fi
  done
  for entry in "$@"; do
    prog=${entry%%:*}
    name=$(basename "$prog")
    case $entry in *:*) name=${entry#*:} ;; esac
    rm -f "$CUPSD_DIR/serverbin/filter/$name"
    install -o root -g root -m 0755 "$prog" "$CUPSD_DIR/serverbin/filter/$name" || return 1
  done

  cat >"$CUPSD_DIR/etc/cups-files.conf" <<CONF
User lp
Group lp
SystemGroup root
FileDevice Yes
ServerRoot $CUPSD_DIR/etc
RequestRoot $CUPSD_DIR/spool
TempDir $CUPSD_DIR/spool/tmp
CacheDir $CUPSD_DIR/cache
StateDir $CUPSD_DIR/state
ServerBin $CUPSD_DIR/serverbin
DataDir $sysdata
ErrorLog $CUPSD_DIR/log/error_log
AccessLog $CUPSD_DIR/log/access_log
PageLog $CUPSD_DIR/log/page_log
Printcap $CUPSD_DIR/etc/printcap
ServerKeychain $CUPSD_DIR/etc/ssl
CONF
  # A cancelled job's filters get SIGTERM; JobKillDelay is how long cupsd then
  # waits before it kills them.
  cat >"$CUPSD_DIR/etc/cupsd.conf" <<CONF
LogLevel debug
MaxLogSize 0
Listen $CUPSD_DIR/cupsd.sock
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultShared No
ErrorPolicy abort-job
PreserveJobHistory Yes
PreserveJobFiles No
MaxJobs 0
JobKillDelay 30
DefaultPaperSize Letter
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
  : >"$CUPSD_DIR/etc/printcap"

  # Where AppArmor is on, the system's profile for /usr/sbin/cupsd confines the
  # scheduler to the system's own directories and would keep it from running
  # filters from this one.  Profiles attach by path, so a copy of the program
  # runs as a private scheduler should: unconfined.
  mkdir -p "$CUPSD_DIR/sbin"
  install -m 0755 "$(command -v cupsd)" "$CUPSD_DIR/sbin/cupsd" || return 1
  # -f keeps cupsd in the foreground, so that $! is the scheduler itself.
  "$CUPSD_DIR/sbin/cupsd" -f -c "$CUPSD_DIR/etc/cupsd.conf" -s "$CUPSD_DIR/etc/cups-files.conf" \
    >"$CUPSD_DIR/log/cupsd.out" 2>&1 &
  CUPSD_PID=$!
  CUPS_SERVER=$CUPSD_DIR/cupsd.sock
  export CUPS_SERVER
  i=0
  while [ $i -lt 150 ]; do
    if lpstat -r 2>/dev/null | grep -q 'is running'; then
      return 0
    fi
    kill -0 "$CUPSD_PID" 2>/dev/null || break
    sleep 0.1
    i=$((i + 1))
  done
  cat "$CUPSD_DIR/log/cupsd.out" "$CUPSD_DIR/log/error_log" >&2 2>/dev/null
  cupsd_fail "cupsd did not start"
}

cupsd_stop() {
  [ -n "$CUPSD_PID" ] || return 0
  kill "$CUPSD_PID" 2>/dev/null || :
  i=0
  while kill -0 "$CUPSD_PID" 2>/dev/null && [ $i -lt 50 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  # Killed only if it is still there; a scheduler that has ended is no failure,
  # and how it ended says nothing about the jobs (callers may run under set -e).
  if kill -0 "$CUPSD_PID" 2>/dev/null; then kill -9 "$CUPSD_PID" 2>/dev/null || :; fi
  wait "$CUPSD_PID" 2>/dev/null || :
  CUPSD_PID=""
}

cupsd_add_queue() { _cupsd_add_file_queue "$1" "$3" -P "$2"; }

cupsd_add_model_queue() { _cupsd_add_file_queue "$1" "$3" -m "$2"; }

# _cupsd_add_file_queue NAME OUTFILE LPADMIN-ARGS...
_cupsd_add_file_queue() {
  _queue=$1 _outfile=$2
  shift 2
  : >"$_outfile"
  # lpadmin warns that PPD drivers are deprecated; that is expected here.
  lpadmin -p "$_queue" -E -v "file://$_outfile" "$@" 2>"$CUPSD_DIR/log/lpadmin.err" || {
    cat "$CUPSD_DIR/log/lpadmin.err" >&2
    return 1
  }
}

cupsd_add_backend_queue() {
  install -o root -g root -m 0700 "$3" "$CUPSD_DIR/serverbin/backend/$4" || return 1
  lpadmin -p "$1" -E -v "$4:$5" -P "$2" 2>"$CUPSD_DIR/log/lpadmin.err" || {
    cat "$CUPSD_DIR/log/lpadmin.err" >&2
    return 1
  }
}

cupsd_submit() {
  JOB_ID=""
  _q=$1
  shift
  _out=$(lp -d "$_q" "$@" 2>&1) || { echo "$_out" >&2; return 1; }
  JOB_ID=$(echo "$_out" | sed -n "s/.*request id is $_q-\([0-9][0-9]*\).*/\1/p")
  [ -n "$JOB_ID" ] || { echo "$_out" >&2; return 1; }
}

# Job attributes over IPP, through the scheduler's own socket: one CSV line.
cupsd_job_attrs() {
  _sock=$(echo "$CUPSD_DIR/cupsd.sock" | sed 's|/|%2F|g')
  cat >"$CUPSD_DIR/get-job.test" <<'TEST'
{
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri job-uri $uri
  ATTR name requesting-user-name root
  ATTR keyword requested-attributes job-state,job-impressions-completed
  STATUS successful-ok
  DISPLAY job-state
  DISPLAY job-impressions-completed
}
TEST
  ipptool -c "ipp://$_sock/jobs/$1" "$CUPSD_DIR/get-job.test" 2>/dev/null | sed -n 2p
}

cupsd_wait_job() {
  _deadline=$(($(date +%s) + $2))
  JOB_STATE=timeout
  JOB_IMPRESSIONS=0
  while [ "$(date +%s)" -le "$_deadline" ]; do
    _attrs=$(cupsd_job_attrs "$1")
    _state=${_attrs%%,*}
    case $_state in
      completed | canceled | aborted | processing-stopped)
        JOB_STATE=$_state
        JOB_IMPRESSIONS=${_attrs#*,}
        case $JOB_IMPRESSIONS in '' | *[!0-9]*) JOB_IMPRESSIONS=0 ;; esac
        return 0
        ;;
    esac
    sleep 0.2
  done
  return 1
}

cupsd_job_log() {
  grep -F "[Job $1]" "$CUPSD_DIR/log/error_log"
}
