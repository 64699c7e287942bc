#!/usr/bin/env bash
# trovex-view run as the user's service, the two usual ways.
#
# Natively: the systemd user unit, as the build installs it, passes
# systemd-analyze verify (where systemd is installed; the test says so where
# it is not). Its ExecStart runs, with the unit's own options: a host's
# messages reach its file, each line after its date. Moved aside as logrotate
# does and sent SIGHUP (the unit's ExecReload), the listener writes on into a
# new file of that name: every message is in one of the two files once, in
# order. SIGTERM ends it, with status 0.
#
# Under Wine: the log-on script adds its value to the user's Run key, and a
# log-on of the prefix (wineboot) starts the listener from it, with its file;
# "remove" takes the value away again.
#
#   bash check_service.sh VIEW WRITER WORK SERVICE-DIR REG-FILE [EMULATOR]
set -u
view=$(realpath "$1") writer=$(realpath "$2") work=$(realpath -m "$3") service=$(realpath "$4") regFile=$5
emulator=${6:-}
count=100
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}
# Waits (at most a minute) until $2 lines that match $3 are in the files $1
# (a list).
await() {
  local files=$1 lines=$2 pattern=$3
  for _ in $(seq 600); do
    [ "$(cat $files 2>/dev/null | grep -c -- "$pattern")" -ge "$lines" ] && return 0
    sleep 0.1
  done
  fail "$files hold $(cat $files 2>/dev/null | grep -c -- "$pattern") lines with $pattern, not $lines"
}
# One host's round of $count messages (and its long ones) through the pipe.
host() { (cd "$work" && $emulator "$writer" 1 "$count" go >"$work/host-$1.out" 2>&1) || fail "host $1 ended with $?"; }
seqs() { grep -o 'seq=[0-9]*' "$@" | cut -d= -f2; }

rm -rf "$work"
mkdir -p "$work"
dated='^[0-9]\{4\}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\.[0-9]\{3\}[+-][0-2][0-9]:[0-5][0-9] '

if [ -z "$emulator" ]; then
  # The unit as installed, with the built program in place of the installed one.
  unit=$work/trovex-view.service
  sed -e "s#@TROVEX_VIEW_BINARY@#$view#" -e "s#@TROVEX_VIEW_DOCS@#$work#" "$service/trovex-view.service.in" >"$unit"
  if command -v systemd-analyze >/dev/null; then
    verified=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $verified"
    [ -z "$verified" ] || fail "systemd-analyze verify says: $verified"
  else
    echo "systemd is not installed here: the unit is not verified"
  fi
  # Its command, in the test's runtime folder (XDG_RUNTIME_DIR, set by the
  # test's run): the default pipe there is this test's alone.
  state=$work/state
  mkdir -p "$state"
  command=$(sed -n 's/^ExecStart=//p' "$unit")
  read -ra arguments <<<"${command//\$\{STATE_DIRECTORY\}/$state}"
  [ "${arguments[0]}" = "$view" ] || fail "the unit starts ${arguments[0]}"
  "${arguments[@]}" 2>"$work/listener.err" &
  listener=$!
  for _ in $(seq 300); do
    grep -qs "listening on" "$work/listener.err" && break
    sleep 0.1
  done
  export TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_TYPE=2 TROVEX_CHANNEL_PATH='\\.\pipe\trovex'
  log=$state/live.log
  host 1
  await "$log" $count "round=0 seq="
  grep -- "seq=" "$log" | grep -v -- "$dated" | grep -q . && fail "$log has messages without their date: $(grep -- "seq=" "$log" | grep -v -- "$dated" | head -2)"
  # As logrotate: move the file aside, then the unit's reload.
  mv "$log" "$log.1"
  kill -HUP "$listener"
  host 2
  await "$log" 1 "round=0 seq="
  await "$log.1 $log" $((2 * count)) "round=0 seq="
  kill -0 "$listener" 2>/dev/null || fail "SIGHUP ended the listener"
  expected=$(seq 0 $((count - 1)); seq 0 $((count - 1)))
  [ "$(seqs -h "$log.1" "$log")" = "$expected" ] || fail "the two files do not hold both rounds once, in order"
  kill -TERM "$listener"
  wait "$listener"
  code=$?
  [ $code -eq 0 ] || fail "SIGTERM ended the listener with $code: $(cat "$work/listener.err")"
else
  # Under Wine: the script beside the program, as installed.
  export WINEPREFIX=${WINEPREFIX:-$PWD/wineprefix}
  mkdir -p "$work/bin"
  cp "$view" "$service/trovex-view-logon.cmd" "$work/bin/"
  script=$(winepath -w "$work/bin/trovex-view-logon.cmd" 2>/dev/null)
  run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
  said=$($emulator cmd /c "$script" install 2>&1) || fail "install: $said"
  value=$($emulator reg query "$run_key" /v trovex-view 2>&1) || fail "no Run value: $value"
  case "$value" in *'--listen --time=date --output'*) ;; *) fail "the Run value is $value" ;; esac
  profile=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -1)
  log=$profile/AppData/Local/trovex/live.log
  rm -f "$log"
  # A log-on of the prefix runs the user's Run key: the listener starts, with
  # its file. (What it writes there is the native run's to check: under Wine
  # nothing tells the test when it serves the pipe.)
  $emulator wineboot >/dev/null 2>&1  # with the settings of the build's prefix
  listener=
  for _ in $(seq 300); do
    listener=$(pgrep -f "$work/bin/trovex-view.exe|trovex-view.exe --listen --time=date --output" | head -1)
    [ -n "$listener" ] && [ -f "$log" ] && break
    sleep 0.1
  done
  [ -n "$listener" ] || fail "the log-on did not start trovex-view"
  [ -f "$log" ] || fail "the listener did not make $log"
  if [ -n "$listener" ]; then
    kill -TERM "$listener"
    for _ in $(seq 50); do kill -0 "$listener" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$listener" 2>/dev/null
  fi
  said=$($emulator cmd /c "$script" remove 2>&1) || fail "remove: $said"
  $emulator reg query "$run_key" /v trovex-view >/dev/null 2>&1 && fail "the Run value is still there"
  rm -rf "$(dirname "$log")"
fi

[ $status -eq 0 ] && rm -rf "$work"
exit $status
