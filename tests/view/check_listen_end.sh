#!/usr/bin/env bash
# trovex-view --listen --stats ends at once, in every state, and prints its
# table. Each state is ended by SIGINT and by SIGTERM (under Wine by SIGINT,
# which Wine hands to the program as Ctrl-C; Wine 8 takes no SIGTERM: the
# kernel ends the process before any of its code runs, so nothing can print):
#   idle         nothing comes;
#   stuck        standard output is a pipe that nobody reads, filled by a
#                program that writes debug output without pause; the table
#                then goes to standard error;
#   flood        two such programs write without pause, the output is a file;
#   unresolved   records are forwarded to a collector whose name (under
#                .invalid) does not resolve;
#   stopped      records are forwarded to a collector that is stopped: it
#                takes the connection and reads nothing, so the sending waits.
#
#   bash check_listen_end.sh VIEW FOREIGN WORK [EMULATOR]
set -u
view=$(realpath "$1") foreign=$(realpath "$2") work=$(realpath -m "$3") emulator=${4:-}
status=0
source "$(dirname "$0")/listen_steps.sh"
rm -rf "$work"
mkdir -p "$work"

# The end must come within EndMilliseconds of the signal: a bound of
# correctness (an operator's Ctrl-C, a service manager's stop), measured from
# the signal to the process's exit, not a speed goal. Under Wine the exit also
# goes through the emulator's server, which takes its own time to let a
# process go on a loaded machine: the bound gets EmulatorMilliseconds more.
# A build the sanitizers check (TROVEX_CHECKED_BUILD set by the build) runs
# the program's code several times slower, its exit included: SanitizerMilliseconds more.
EndMilliseconds=1000
EmulatorMilliseconds=1000
SanitizerMilliseconds=2000
bound=$EndMilliseconds
[ -n "${TROVEX_CHECKED_BUILD:-}" ] && bound=$((bound + SanitizerMilliseconds))
signals="INT TERM"
if [ -n "$emulator" ]; then
  export WINEPREFIX=${WINEPREFIX:-$PWD/wineprefix}
  bound=$((bound + EmulatorMilliseconds))
  signals=INT
  name=trovex-end-test
else
  # The run's own runtime folder, for the pipe folder and the debug-output
  # socket: never the user's, where their own listener may run.
  export XDG_RUNTIME_DIR=$work/run && mkdir -m 0700 "$XDG_RUNTIME_DIR"
  name=trovex-end-test-$$
fi
# The Stats table's last line, on every end.
TableLine="messages hidden by the filter"

# Two programs that write debug output without pause: while the listener
# handles one's text, the other's is ready, so the reading never runs dry.
flooders=()
start_flood() {
  local i
  for i in 1 2; do
    (cd "$work" && exec $emulator "$foreign" flood >"$work/flood$i.out") &
    flooders+=($!)
  done
  for i in 1 2; do await "$work/flood$i.out" 1 flooding; done
}
stop_flood() {
  local pid
  for pid in "${flooders[@]}"; do
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  flooders=()
}

# A collector that is stopped: it listens, and never accepts or reads. The
# kernel takes the connection and bytes until its buffers are full; then the
# sending waits.
collector=
start_collector() {
  python3 -c '
import socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # its connection fills soon
s.bind(("127.0.0.1", 0))
s.listen(1)
print(s.getsockname()[1], flush=True)
time.sleep(600)
' >"$work/collector.port" &
  collector=$!
  await "$work/collector.port" 1 '^[0-9]'
}
# Waits until the number that the rest of the arguments print is at least
# $1 and no longer moves: what it measures is stuck ($2 says what).
await_still() {
  local least=$1 what=$2 now last=-1
  shift 2
  for _ in $(seq 300); do
    now=$("$@")
    [ -n "$now" ] && [ "$now" -ge "$least" ] && [ "$now" = "$last" ] && return 0
    last=${now:--1}
    sleep 0.2
  done
  fail "$what never stuck"
}
# Bytes queued on the connection to port $1 (ss's Send-Q).
send_queue() { ss -Htn state established "( dport = :$1 )" | awk '{ print $2; exit }'; }
# Bytes waiting in fifo $1.
fifo_bytes() {
  python3 -c 'import array, fcntl, os, sys, termios
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_NONBLOCK)
count = array.array("i", [0])
fcntl.ioctl(fd, termios.FIONREAD, count)
print(count[0])' "$1"
}
stop_collector() {
  [ -n "$collector" ] || return 0
  kill "$collector" 2>/dev/null
  wait "$collector" 2>/dev/null
  collector=
}

# Ends the listener by signal $1 and checks the time it took; the table is
# looked for in file $2.
end_listener() {
  local signal=$1 tableIn=$2 label=$3 started ended elapsed
  started=$(date +%s%N)
  kill -"$signal" "$listenerProcess"
  # A listener that hangs is killed after a while, so that the test ends.
  (sleep 20 && kill -9 "$listenerProcess") 2>/dev/null &
  local watchdog=$!
  wait "$listener"
  ended=$(date +%s%N)
  kill "$watchdog" 2>/dev/null
  wait "$watchdog" 2>/dev/null
  elapsed=$(((ended - started) / 1000000))
  echo "$label: ended $elapsed ms after SIG$signal"
  [ "$elapsed" -le "$bound" ] || fail "$label: the listener took $elapsed ms to end, more than $bound ms"
  grep -q "$TableLine" "$tableIn" || fail "$label: no --stats table in $(basename "$tableIn"): $(tail -3 "$tableIn")"
}

for signal in $signals; do
  run=$work/idle-$signal
  start_listener "$run.out" "$run.err" --stats
  end_listener "$signal" "$run.out" "idle $signal"

  run=$work/stuck-$signal
  rm -f "$run.fifo"
  mkfifo "$run.fifo"
  exec 3<>"$run.fifo"  # held open, never read
  start_listener "$run.fifo" "$run.err" --stats
  start_flood
  await_still 32768 "the output" fifo_bytes "$run.fifo"
  end_listener "$signal" "$run.err" "stuck output $signal"
  grep -q "standard output takes nothing more" "$run.err" || fail "stuck output $signal: the output was not stuck"
  stop_flood
  exec 3>&-

  run=$work/flood-$signal
  start_listener "$run.out" "$run.err" --stats
  start_flood
  await "$run.out" 1000 "flood line"
  end_listener "$signal" "$run.out" "debug-output flood $signal"
  stop_flood

  run=$work/unresolved-$signal
  start_listener "$run.out" "$run.err" --stats --quiet \
    --forward syslog+tcp://trovex-end-test.invalid:601
  start_flood
  await "$run.err" 1 "cannot reach"
  end_listener "$signal" "$run.out" "unresolved collector $signal"
  stop_flood

  run=$work/stopped-$signal
  start_collector
  start_listener "$run.out" "$run.err" --stats --quiet \
    --forward "syslog+tcp://127.0.0.1:$(cat "$work/collector.port")"
  start_flood
  await_still 1 "the sending to the collector" send_queue "$(cat "$work/collector.port")"
  end_listener "$signal" "$run.out" "stopped collector $signal"
  stop_flood
  stop_collector
done

[ $status -eq 0 ] && rm -rf "$work"
exit $status
