#!/usr/bin/env bash
# The listener's resident size over a long run, in four states, sampled every
# second from /proc/PID/status (VmRSS): 40 hosts writing; 1,000 idle
# connections; one process writing debug output without pause; hosts writing
# with --forward while the collector (rsyslogd on a free port) is stopped for
# a minute. For each it prints the bound (docs/viewer.md: the size at the
# start, the queue, a wait's reads and the writers' state), the peak, the
# size after warm-up (a tenth of the run) and at the end; flat means the end
# is within 5 % of the size after warm-up. A benchmark, not a test: it fails
# nothing.
#
#   bash bench/listener_memory.sh [BUILD-DIR [SECONDS-PER-STATE]]
#   (native build; default build/native, 600 s per state)
set -u
build=$(realpath "${1:-build/native}") seconds=${2:-600}
view=$build/bin/trovex-view writer=$build/bin/pipe_writer
rsyslogd=$(command -v rsyslogd || echo /usr/sbin/rsyslogd)
work=$(mktemp -d /tmp/trovex-listener-memory.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
# The run's own pipe folder: never the user's, where their listener may run.
export XDG_RUNTIME_DIR=$work/run && mkdir -m 0700 "$XDG_RUNTIME_DIR"
name=trovex-memory-$$
export TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_TYPE=2 TROVEX_CHANNEL_PATH="\\\\.\\pipe\\$name"
# docs/viewer.md: the queue, a wait's reads, and per writer its fixed state,
# an unfinished line and a message's record.
# With --quiet one output's queue is there: standard output's, or with
# --forward the forwarding's, whose records then wait for the collector too.
QueueKiB=16384 ReadsKiB=1280 WriterKiB=193 ForwarderKiB=8192

rss() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status" 2>/dev/null; }

# Runs the listener (options $2...) for $seconds while load $1 runs,
# sampling; prints the state's line. $writers: the writers the state holds.
measure() {
  local state=$1
  shift
  "$view" --listen "$name" --quiet "$@" >/dev/null 2>"$work/$state.err" &
  local listener=$!
  for _ in $(seq 100); do grep -qs "listening on" "$work/$state.err" && break; sleep 0.1; done
  local start=$(rss $listener) peak=0 warm= now= t
  "load_$state" &
  local load=$!
  for t in $(seq "$seconds"); do
    sleep 1
    now=$(rss $listener)
    [ -n "$now" ] || { echo "$state: the listener ended: $(cat "$work/$state.err")"; break; }
    [ "$now" -gt "$peak" ] && peak=$now
    [ "$t" -eq $((seconds / 10 > 0 ? seconds / 10 : 1)) ] && warm=$now
  done
  kill $load 2>/dev/null
  wait $load 2>/dev/null
  kill $listener 2>/dev/null
  wait $listener 2>/dev/null
  local bound=$((start + QueueKiB + ReadsKiB + writers * WriterKiB + ${forwarderKiB:-0}))
  local flat=no
  [ -n "$warm" ] && [ -n "$now" ] && [ $((now * 100)) -le $((warm * 105)) ] && [ $((now * 100)) -ge $((warm * 95)) ] && flat=yes
  printf "%-14s bound %7d KiB  start %6d  peak %7d  after warm-up %7s  end %7s KiB  flat: %s  within bound: %s\n" \
    "$state" "$bound" "$start" "$peak" "${warm:--}" "${now:--}" "$flat" "$([ "$peak" -le "$bound" ] && echo yes || echo NO)"
  grep -v "listening" "$work/$state.err" | head -3
}

# Hosts that write until they are stopped: $1 of them, a message every $2 ms.
hosts() {
  local pids=()
  for i in $(seq "$1"); do
    (cd "$work" && exec "$writer" 1 100000000 go 100 "$2" >/dev/null 2>&1) &
    pids+=($!)
  done
  trap 'kill ${pids[*]} 2>/dev/null; exit 0' TERM
  wait
}
load_hosts() { hosts 40 5; }

load_idle() {
  exec python3 - "$XDG_RUNTIME_DIR/trovex/$name" <<'EOF'
import socket, sys, time
held = []
for _ in range(1000):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(sys.argv[1])
    held.append(s)
while True:
    time.sleep(1)
EOF
}

# Datagrams as the library's OutputDebugStringA sends them to the socket
# "debug-output" of the pipe folder: process id, zero, program, zero, text.
load_debug() {
  exec python3 - "$XDG_RUNTIME_DIR/trovex/debug-output" <<'EOF'
import os, socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
n = 0
while True:
    n += 1
    try:
        s.sendto(b"%d\0busy.exe\0line %d without pause" % (os.getpid(), n), sys.argv[1])
    except (BlockingIOError, ConnectionRefusedError, FileNotFoundError):
        pass
EOF
}

tcp=$(python3 -c "import socket; s = socket.socket(); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])")
mkdir -p "$work/spool"
cat >"$work/rsyslog.conf" <<EOF
global(workDirectory="$work/spool" maxMessageSize="256k" net.enableDNS="off")
module(load="imtcp")
ruleset(name="collect") { action(type="omfile" file="$work/records.log") }
input(type="imtcp" port="$tcp" address="127.0.0.1" ruleset="collect")
EOF
"$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslog.pid" >>"$work/rsyslog.log" 2>&1 &
collector=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$tcp") 2>/dev/null && break; sleep 0.1; done
# Four hosts write; the collector stops for a minute (at most half the run)
# after a tenth of it, then goes on.
load_collector() {
  hosts 4 2 &
  local pause=$((seconds / 2 < 60 ? seconds / 2 : 60))
  sleep $((seconds / 10 > 0 ? seconds / 10 : 1))
  kill -STOP $collector
  sleep $pause
  kill -CONT $collector
  wait
}
echo "listener memory, $seconds s per state, sampled every second (KiB)"
writers=40 measure hosts
writers=1000 measure idle
writers=1 measure debug
writers=4 forwarderKiB=$ForwarderKiB measure collector --forward "syslog+tcp://127.0.0.1:$tcp"
kill $collector 2>/dev/null
