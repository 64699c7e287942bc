#!/usr/bin/env bash
# trovex-view --listen and every process's debug output, from outside.
#
# 1. One listener, three programs at once: one that is no trovex host passes
#    three lines to OutputDebugStringA; two hosts whose channel writes to the
#    debugger send short messages, messages of 3,000 bytes (one of them in 30
#    lines) and of 9,000 bytes (cut into pieces by the channel). Each shows,
#    whole and in its process's order, tagged with its process and marked as
#    debug output; the foreign lines each a record of their own, without a
#    category; each with its time, never going back within a process. With
#    --time, the lines after their times. --process keeps one program and counts the hosts' messages as
#    hidden.
# 2. Another monitor holds the debug output first (under Wine a program that
#    holds the protocol's event, natively another listener): the listener
#    says so once and serves its pipe, whose host it shows.
#
#   bash check_listen_debug_output.sh VIEW HOST FOREIGN WORK REG-FILE [EMULATOR]
set -u
view=$(realpath "$1") writer=$(realpath "$2") foreign=$(realpath "$3") work=$(realpath -m "$4") regFile=$5
emulator=${6:-}
status=0
source "$(dirname "$0")/listen_steps.sh"
rm -rf "$work"
mkdir -p "$work"
if [ -n "$emulator" ]; then
  export WINEPREFIX=${WINEPREFIX:-$PWD/wineprefix}
  name=trovex  # the pipe of the .reg file beside this one
  suffix=.exe
  "$emulator" reg import "$regFile" >/dev/null 2>&1 || fail "cannot import $regFile"
else
  name=trovex-debug-test-$$
  suffix=
  # The run's own runtime folder, for the pipe folder and the first fallback:
  # never the user's, where their own listener may run.
  export XDG_RUNTIME_DIR=$work/run && mkdir -m 0700 "$XDG_RUNTIME_DIR"
  export TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_TYPE=4
fi
host=pipe_writer$suffix other=debug_output_writer$suffix

# Starts a listener (listen NAME OPTIONS...), its output in WORK/NAME.out.
listen() {
  local out=$1
  shift
  start_listener "$work/$out.out" "$work/$out.err" "$@"
}
# The three programs at once: the foreign one, a host of 3 short messages
# and one of 2 messages of 9,000 bytes; each host also sends its long
# message (3,000 bytes) and its message of 30 lines.
run_programs() {
  local pids=()
  (cd "$work" && exec $emulator "$foreign") & pids+=($!)
  (cd "$work" && exec $emulator "$writer" 1 3 go 0 >/dev/null) & pids+=($!)
  (cd "$work" && exec $emulator "$writer" 1 2 go 9000 >/dev/null) & pids+=($!)
  for pid in "${pids[@]}"; do wait "$pid" || fail "a program ended with $?"; done
}

# 1: one listener shows them all.
listen all --json
grep -q "listening to the debug output of every process" "$work/all.err" || fail "no debug output: $(cat "$work/all.err")"
run_programs
await "$work/all.out" 3 'foreign line'
await "$work/all.out" 2 '"LINES"'
stop
[ -z "$(jq -c 'select(.source != "debug-output")' "$work/all.out")" ] || fail "a record not marked as debug output"
# Each record has its time, in each process's order (the times, ISO 8601
# with the same offset, sort as text).
[ -z "$(jq -c 'select(.time | not)' "$work/all.out")" ] || fail "a record without its time"
[ -z "$(jq -s -c 'group_by(.pid)[] | select(map(.time) != (map(.time) | sort)) | .[0].pid' "$work/all.out")" ] ||
  fail "the times of a process go backwards"
got=$(jq -r --arg p "$other" 'select(.process == $p and (has("category") | not)) | .text' "$work/all.out")
[ "$got" = "$(printf 'foreign line %d of 3\n' 1 2 3)" ] || fail "the foreign program's lines: $got"
pids=$(jq -r 'select(.id == "W") | .pid' "$work/all.out" | sort -u)
[ "$(echo $pids | wc -w)" = 2 ] || fail "messages from $(echo $pids | wc -w) hosts, not 2"
for pid in $pids; do
  # The host of 9,000-byte messages pads them with P.
  pad=0 count=3
  [ -n "$(jq -r --argjson pid "$pid" 'select(.pid == $pid and .id == "W" and (.text | endswith("P"))) | .pid' "$work/all.out")" ] &&
    pad=9000 count=2
  expected=$(for seq in $(seq 0 $((count - 1))); do echo "pid=$pid round=0 seq=$seq$(printf "%${pad}s" | tr ' ' P)"; done
    echo "pid=$pid round=0 $(printf "%3000s" | tr ' ' L)")
  got=$(jq -r --argjson pid "$pid" --arg p "$host" 'select(.pid == $pid and .process == $p and .id != "LINES") | .text' "$work/all.out")
  [ "$got" = "$expected" ] || fail "the messages of $pid are not whole and in order:$(diff <(echo "$expected") <(echo "$got") | cut -c1-80 | head -5)"
  lines=$(jq -r --argjson pid "$pid" 'select(.pid == $pid and .id == "LINES") | .text | split("\n") | length' "$work/all.out")
  [ "$lines" = 31 ] || fail "the message of 30 lines of $pid came as $lines lines"
done

# --process: the foreign program alone, the hosts' messages counted as hidden.
listen one --process "debug_output_writer*" --stats --time
run_programs
await "$work/one.out" 3 'foreign line'
stop
got=$(grep -c "^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\.[0-9][0-9][0-9] \[[0-9]* $other\] foreign line [1-3] of 3$" "$work/one.out")
[ "$got" = 3 ] || fail "--process: $got foreign lines: $(head -5 "$work/one.out")"
grep -q "pid=" "$work/one.out" && fail "--process: a host's message is shown"
# The table comes at the end, which only a listener stopped natively reaches
# (Wine's processes are not the shell's to stop gently).
[ -n "$emulator" ] || grep -q "messages hidden by the filter: 9$" "$work/one.out" || fail "--process: $(grep hidden "$work/one.out")"
# The foreign program's lines have a row of their own, apart from the hosts'
# lines without a header (none: a channel's first empty line is not shown).
[ -n "$emulator" ] || grep -q "^ *3  lines of other programs' debug output$" "$work/one.out" ||
  fail "--process: the foreign lines are not counted apart: $(grep lines "$work/one.out")"
[ -n "$emulator" ] || grep -q "^ *0  lines without a header$" "$work/one.out" ||
  fail "--process: $(grep 'without a header' "$work/one.out")"

# With no listener, the debugger's view: under Wine its trace of
# OutputDebugStringA shows each of the host's messages.
if [ -n "$emulator" ]; then
  (cd "$work" && TROVEX_WINEDEBUG=+debugstr $emulator "$writer" 1 3 go 0 >/dev/null 2>"$work/debugstr.err")
  got=$(grep -c 'warn<W>: pid=' "$work/debugstr.err")
  [ "$got" = 3 ] || fail "Wine's trace of debug strings shows $got of the host's 3 messages: $(head -3 "$work/debugstr.err")"
fi

# 2: another monitor first.
if [ -n "$emulator" ]; then
  $emulator "$foreign" hold 60 >"$work/holder.out" &
  holder=$!
  await "$work/holder.out" 1 holding
  "$emulator" reg import "$(dirname "$regFile")/channel-pipe.reg" >/dev/null 2>&1 || fail "cannot import channel-pipe.reg"
else
  $emulator "$view" --listen "$name-first" >/dev/null 2>"$work/holder.err" &
  holder=$!
  await "$work/holder.err" 1 "listening to the debug output"
  export TROVEX_CHANNEL_TYPE=2 TROVEX_CHANNEL_PATH="\\\\.\\pipe\\$name"
fi
listen second
(cd "$work" && $emulator "$writer" 1 3 go 0 >/dev/null) || fail "the pipe's host ended with $?"
await "$work/second.out" 1 '--- gone ---'
stop
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
[ "$(grep -c "cannot take the debug output.*; listening on the pipe alone" "$work/second.err")" = 1 ] ||
  fail "the listener did not say once that another monitor holds the debug output: $(cat "$work/second.err")"
[ "$(grep -c "\] warn<W>: pid=" "$work/second.out")" = 3 ] || fail "the pipe's host was not shown: $(head -5 "$work/second.out")"

[ -n "$emulator" ] && "$emulator" reg delete 'HKCU\qz\kprintf' /f >/dev/null 2>&1
[ $status -eq 0 ] && rm -rf "$work"
exit $status
