# shellcheck shell=sh
# IPP jobs for the Printer Application's e2e scripts, sent and watched with
# ipptool; sourced after $work (the scratch directory) is set.
#
# ipp_print URI NAME FILE FORMAT [ATTRIBUTE=VALUE]...
#     prints FILE as the job NAME (Print-Job) and waits until the job has ended;
#     sets JOB_ID and, as ipp_job_state does, JOB_STATE, JOB_MESSAGE,
#     JOB_REASONS and JOB_IMPRESSIONS.
# ipp_print_background URI NAME FILE FORMAT [ATTRIBUTE=VALUE]...
#     the same without waiting; the ipptool process is added to IPP_BG.
# ipp_wait_background
#     waits for the processes in IPP_BG.
# ipp_job_state URI ID
#     JOB_STATE (pending, processing, completed, canceled, aborted, ...),
#     JOB_MESSAGE, JOB_REASONS and JOB_IMPRESSIONS (job-impressions-completed).
# ipp_wait_job URI ID TIMEOUT
#     waits up to TIMEOUT seconds for the job to end (JOB_STATE "timeout" if not).
# app_job_id URI NAME
#     the id of the printer's last job named NAME.
# app_jobs URI STATE
#     the names of the printer's jobs in STATE, one a line.
# ipp_set_defaults URI NAME=VALUE...
#     sets printer defaults (Set-Printer-Attributes); IPP_RC is ipptool's status.
#
# Attribute types: integers (copies, print-darkness), booleans (toner-save,
# negative-print, mirror-image and their defaults), keywords otherwise; media,
# media-source and media-type go into one media-col.

IPP_BG=""

_ipp_attrs() {
  _mcol=""
  for _a in "$@"; do
    _n=${_a%%=*} _v=${_a#*=}
    case $_n in
      media) _mcol="$_mcol MEMBER keyword media-size-name $_v" ;;
      media-source | media-type) _mcol="$_mcol MEMBER keyword $_n $_v" ;;
      copies | print-darkness | print-darkness-default) echo "ATTR integer $_n $_v" ;;
      toner-save* | negative-print* | mirror-image*) echo "ATTR boolean $_n $_v" ;;
      *) echo "ATTR keyword $_n $_v" ;;
    esac
  done
  [ -z "$_mcol" ] || echo "ATTR collection media-col {$_mcol }"
}

_ipp_header() {  # _ipp_header OPERATION
  cat <<TEST
{
	NAME "$1"
	OPERATION $1
	GROUP operation-attributes-tag
	ATTR charset attributes-charset utf-8
	ATTR naturalLanguage attributes-natural-language en
	ATTR uri printer-uri \$uri
	ATTR name requesting-user-name e2e
TEST
}

# _ipp_value FILE NAME: a value ipptool displayed ("NAME (type) = value").
_ipp_value() { sed -n "s/^ *$2 ([^)]*) = //p" "$1" | head -1; }

_ipp_print_test() {  # _ipp_print_test NAME FILE FORMAT [ATTRIBUTE=VALUE]...
  mkdir -p "$work/ipp"
  _t=$work/ipp/$1.test
  {
    _ipp_header Print-Job
    echo "	ATTR mimeMediaType document-format $3"
    echo "	ATTR name job-name \"$1\""
    echo "	GROUP job-attributes-tag"
    _name=$1 _file=$2
    shift 3
    _ipp_attrs "$@" | sed 's/^/	/'
    echo "	FILE \"$_file\""
    echo "	STATUS successful-ok"
    echo "	STATUS server-error-busy REPEAT-MATCH"
    echo "	DISPLAY job-id"
    echo "}"
  } >"$_t"
}

ipp_print() {
  _uri=$1
  shift
  _ipp_print_test "$@"
  ipptool -t "$_uri" "$work/ipp/$1.test" >"$work/ipp/$1.out" 2>&1
  JOB_ID=$(_ipp_value "$work/ipp/$1.out" job-id)
  # A request the server gave up on reading has no answer; the job is there.
  [ -n "$JOB_ID" ] || JOB_ID=$(app_job_id "$_uri" "$1")
  JOB_STATE=none JOB_MESSAGE="" JOB_REASONS="" JOB_IMPRESSIONS=0
  if [ -n "$JOB_ID" ]; then
    ipp_wait_job "$_uri" "$JOB_ID" 300
  else
    cat "$work/ipp/$1.out"
  fi
}

ipp_print_background() {
  _uri=$1
  shift
  _ipp_print_test "$@"
  ipptool -t "$_uri" "$work/ipp/$1.test" >"$work/ipp/$1.out" 2>&1 &
  IPP_BG=$!
}

ipp_wait_background() {
  for _p in $IPP_BG; do wait "$_p"; done
  IPP_BG=""
}

ipp_job_state() {
  mkdir -p "$work/ipp"
  {
    _ipp_header Get-Job-Attributes
    echo "	ATTR integer job-id $2"
    echo "	ATTR keyword requested-attributes job-state,job-state-message,job-state-reasons,job-impressions-completed,time-at-processing,time-at-completed"
    echo "	STATUS successful-ok"
    for _d in job-state job-state-message job-state-reasons job-impressions-completed; do
      echo "	DISPLAY $_d"
    done
    echo "}"
  } >"$work/ipp/get-job.test"
  ipptool -t "$1" "$work/ipp/get-job.test" >"$work/ipp/get-job.out" 2>&1
  JOB_STATE=$(_ipp_value "$work/ipp/get-job.out" job-state)
  JOB_MESSAGE=$(_ipp_value "$work/ipp/get-job.out" job-state-message)
  JOB_REASONS=$(_ipp_value "$work/ipp/get-job.out" job-state-reasons)
  JOB_IMPRESSIONS=$(_ipp_value "$work/ipp/get-job.out" job-impressions-completed)
}

ipp_wait_job() {
  _deadline=$(($(date +%s) + $3))
  while [ "$(date +%s)" -le "$_deadline" ]; do
    ipp_job_state "$1" "$2"
    case $JOB_STATE in completed | canceled | aborted) return 0 ;; esac
    sleep 0.1
  done
  JOB_STATE=timeout
  return 1
}

# _ipp_jobs URI: "ID STATE NAME" for every job of the printer.
_ipp_jobs() {
  mkdir -p "$work/ipp"
  {
    _ipp_header Get-Jobs
    echo "	ATTR keyword which-jobs all"
    echo "	ATTR keyword requested-attributes job-id,job-state,job-name"
    echo "	STATUS successful-ok"
    echo "}"
  } >"$work/ipp/get-jobs.test"
  ipptool -tv "$1" "$work/ipp/get-jobs.test" 2>/dev/null | awk '
    function flush() { if (id != "") print id, state, name; id = ""; state = ""; name = "" }
    /-- separator --/ { flush() }
    /^ *job-id \(integer\) = / { id = $NF }
    /^ *job-state \(enum\) = / { state = $NF }
    /^ *job-name \(nameWithoutLanguage\) = / { sub(/^ *job-name \(nameWithoutLanguage\) = /, ""); name = $0 }
    END { flush() }'
}

app_job_id() { _ipp_jobs "$1" | awk -v n="$2" '{ id = $1; $1 = ""; $2 = ""; sub(/^  /, ""); if ($0 == n && (last == "" || id > last)) last = id } END { print last }'; }
app_jobs() { _ipp_jobs "$1" | awk -v s="$2" '$2 == s { $1 = ""; $2 = ""; sub(/^  /, ""); print }'; }

ipp_set_defaults() {
  _uri=$1
  shift
  mkdir -p "$work/ipp"
  {
    _ipp_header Set-Printer-Attributes
    echo "	GROUP printer-attributes-tag"
    _ipp_attrs "$@" | sed 's/^/	/'
    echo "	STATUS successful-ok"
    echo "}"
  } >"$work/ipp/set-defaults.test"
  ipptool -t "$_uri" "$work/ipp/set-defaults.test" >"$work/ipp/set-defaults.out" 2>&1
  IPP_RC=$?
  [ "$IPP_RC" -eq 0 ] || cat "$work/ipp/set-defaults.out"
}

# ipp_wait_printing URI NAME TIMEOUT: waits until the job NAME is processing and
# the filter has sent a page; prints its id (nothing on a timeout).
ipp_wait_printing() {
  _deadline=$(($(date +%s) + $3))
  while [ "$(date +%s)" -le "$_deadline" ]; do
    _id=$(app_job_id "$1" "$2")
    if [ -n "$_id" ]; then
      ipp_job_state "$1" "$_id"
      case $JOB_STATE in
        processing) [ "${JOB_IMPRESSIONS:-0}" -ge 1 ] 2>/dev/null && { echo "$_id"; return 0; } ;;
        completed | canceled | aborted) return 1 ;;
      esac
    fi
    sleep 0.05
  done
  return 1
}
