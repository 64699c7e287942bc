#!/usr/bin/env bash
# trovex-view --listen from outside, with hosts that write through their
# debug channel. Four hosts write at once: the listener gets every message
# whole and once, with the host's process id and program name, in each
# host's order, a message longer than one write included; a second listener
# of the same pipe is refused. Then the listener is stopped and another
# started while the hosts wait between two rounds: each host reaches the new
# one with its next message, and the new one shows each host gone at its end. Natively the hosts find the pipe by the
# environment; under Wine by the ready .reg file of the documentation.
#
#   bash check_listen.sh VIEW WRITER WORK REG-FILE [EMULATOR]
set -u
view=$1 writer=$2 work=$3 regFile=$4 emulator=${5:-}
hosts=4 count=200 longLength=3000
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

rm -rf "$work"
mkdir -p "$work"
if [ -n "$emulator" ]; then
  name=trovex  # the .reg file's pipe; the Wine prefix is the build's own
  program=pipe_writer.exe
  go="Z:$work/go"
  "$emulator" reg import "$regFile" >/dev/null 2>&1 || fail "cannot import $regFile"
else
  name=trovex-test-$$
  program=pipe_writer
  go="$work/go"
  export TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_TYPE=2 TROVEX_CHANNEL_PATH="\\\\.\\pipe\\$name"
fi

listener=
# Starts a listener whose records go to WORK/$1.json, and waits until it listens.
listen() {
  $emulator "$view" --listen "$name" --json >"$work/$1.json" 2>"$work/$1.err" &
  listener=$!
  for _ in $(seq 300); do
    grep -qs "listening on" "$work/$1.err" && return 0
    sleep 0.1
  done
  fail "listener $1 did not start: $(cat "$work/$1.err")"
}
stop() {
  kill "$listener" 2>/dev/null
  wait "$listener" 2>/dev/null
}
# Waits (at most a minute) until $1 holds $2 lines that match $3.
await() {
  for _ in $(seq 600); do
    [ "$(grep -c -- "$3" "$1")" -ge "$2" ] && return 0
    sleep 0.1
  done
  fail "$1 holds $(grep -c -- "$3" "$1") lines with $3, not $2"
}
# The messages of round $2 in listener file $1: for each of the hosts, its
# messages in order, each with its own process id and the program's name,
# and its long message whole, all once.
check_round() {
  local file=$1 round=$2 pids pid expected got
  pids=$(jq -r 'select(.id == "W") | .pid' "$file" | sort -u)
  [ "$(echo $pids | wc -w)" -eq $hosts ] || fail "$file: messages from $(echo $pids | wc -w) hosts, not $hosts"
  for pid in $pids; do
    expected=$(for seq in $(seq 0 $((count - 1))); do echo "$program pid=$pid round=$round seq=$seq"; done)
    got=$(jq -r --argjson pid "$pid" 'select(.id == "W" and .pid == $pid) | "\(.process) \(.text)"' "$file")
    [ "$got" = "$expected" ] || fail "$file: the messages of $pid differ:$(diff <(echo "$expected") <(echo "$got") | head -5)"
    got=$(jq -r --argjson pid "$pid" 'select(.id == "LONG" and .pid == $pid) | .text' "$file")
    [ "$got" = "pid=$pid round=$round $(printf "%${longLength}s" | tr ' ' L)" ] ||
      fail "$file: the long message of $pid is not there once and whole (${#got} bytes)"
  done
}

listen first
$emulator "$view" --listen "$name" >/dev/null 2>"$work/again.err" && fail "a second listener of the pipe started"
grep -q "another listener serves it" "$work/again.err" || fail "a second listener: $(cat "$work/again.err")"
for _ in $(seq $hosts); do
  $emulator "$writer" 2 $count "$go" >/dev/null 2>&1 &
  writers+=($!)
done
await "$work/first.json" $((hosts * (count + 1))) 'round=0'
stop
listen second
touch "$work/go.1"
for pid in "${writers[@]}"; do
  wait "$pid" || fail "a host ended with $?"
done
await "$work/second.json" $hosts '"event":"gone"'
stop
check_round "$work/first.json" 0
check_round "$work/second.json" 1
[ -z "$(grep -v '"round=0\|pid=[0-9]* round=0 ' "$work/first.json")" ] || fail "first.json holds more than round 0"
[ "$(jq -r 'select(.event == "gone") | .pid' "$work/second.json" | sort -u | wc -l)" -eq $hosts ] ||
  fail "second.json does not show each host gone once"
[ -n "$emulator" ] && "$emulator" reg delete 'HKCU\qz\kprintf' /f >/dev/null 2>&1
[ $status -eq 0 ] && rm -rf "$work"
exit $status
