#!/usr/bin/env bash
# trovex-view --listen from outside, with hosts that write through their
# debug channel. Natively the hosts find the pipe by the environment; under
# Wine by the ready .reg file of the documentation.
#
# 1. Four hosts write at once: the listener gets every message whole and
#    once, with the host's process id and program name, in each host's
#    order, a message longer than one write included; a second listener of
#    the same pipe is refused.
# 2. The listener is killed (kill -9) while the hosts wait between two
#    rounds, and another is started 1.5 s after they have begun their second
#    round, a message every 10 ms: what they wrote meanwhile is in the
#    channel's fallback files, the rest reaches the new listener, which shows
#    each host gone at its end; no message is lost, none is there twice.
# 3. A listener whose output is a pipe nobody reads, and (natively) one
#    stopped with SIGSTOP, while four hosts write 2,000 messages each: every
#    host finishes within HostSeconds. Once the listener goes on, the
#    messages it shows, plus those it says it dropped, plus those the hosts
#    say they lost, are what was sent.
#
#   bash check_listen.sh VIEW WRITER WORK REG-FILE [EMULATOR]
set -u
# Absolute paths: the hosts run in the work folder.
view=$(realpath "$1") writer=$(realpath "$2") work=$(realpath -m "$3") regFile=$4 emulator=${5:-}
hosts=4 count=300 delay=10 longLength=3000
slowCount=2000 slowPad=3000 stoppedPad=1000
# How long a host may take for 2,000 messages to a listener that does not
# read, or does not write: a bounded wait for the first message the pipe does
# not take, then none for a second, so a few seconds at most; generous for a
# loaded machine and Wine.
HostSeconds=30
status=0
source "$(dirname "$0")/listen_steps.sh"

rm -rf "$work"
mkdir -p "$work"
# The hosts run in the work folder, where the channel's last fallback file is.
if [ -n "$emulator" ]; then
  export WINEPREFIX=${WINEPREFIX:-$PWD/wineprefix}
  name=trovex  # the .reg file's pipe; the Wine prefix is the build's own
  program=pipe_writer.exe
  fallbacks=("$WINEPREFIX/drive_c/tmp/kprintf.txt" "$WINEPREFIX/drive_c/kprintf.txt" "$work/kprintf.txt")
  rm -f "${fallbacks[@]}"
  "$emulator" reg import "$regFile" >/dev/null 2>&1 || fail "cannot import $regFile"
else
  name=trovex-test-$$
  program=pipe_writer
  # The run's own runtime folder, for the pipe folder and the first fallback:
  # never the user's, where their own listener may run.
  export XDG_RUNTIME_DIR=$work/run && mkdir -m 0700 "$XDG_RUNTIME_DIR"
  fallbacks=("$XDG_RUNTIME_DIR/kprintf.txt" "$work/kprintf.txt")
  export TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_TYPE=2 TROVEX_CHANNEL_PATH="\\\\.\\pipe\\$name"
fi

# Starts a listener whose records go to WORK/$1.json (or to $2).
listen() { start_listener "${2:-$work/$1.json}" "$work/$1.err" --json; }
writers=()
# Starts a host in the work folder: host NAME ROUNDS COUNT [PAD [DELAY]],
# its standard output in WORK/NAME.out.
host() {
  local out=$work/$1.out rounds=$2 messages=$3
  shift 3
  (cd "$work" && exec $emulator "$writer" "$rounds" "$messages" go "$@" >"$out" 2>&1) &
  writers+=($!)
}
wait_hosts() {
  for pid in "${writers[@]}"; do
    wait "$pid" || fail "a host ended with $?"
  done
  writers=()
}
# Waits until every host NAME-prefixed by $1 says it has written round $2,
# and fails when that takes longer than HostSeconds; prints the time taken.
await_written() {
  local started=$(date +%s%N) done
  while :; do
    done=$(cat "$work/$1"*.out 2>/dev/null | grep -c "round $2 written")
    [ "$done" -ge $hosts ] && break
    if [ $(($(date +%s%N) - started)) -gt $((HostSeconds * 1000000000)) ]; then
      fail "$1: $done of $hosts hosts wrote round $2 within $HostSeconds s"
      return
    fi
    sleep 0.05
  done
  echo "$1: $hosts hosts wrote round $2 in $((($(date +%s%N) - started) / 1000000)) ms"
}
# The messages of host $2 in round $3 in listener file $1: its W messages'
# texts, each naming this very program (with nothing after its name).
messages_of() {
  jq -r --argjson pid "$2" --arg program "$program" --arg round "round=$3 " \
    'select(.id == "W" and .pid == $pid and .process == $program and (.text | contains($round))) | .text' "$1"
}
# The messages of round $2 in listener file $1: for each of the hosts, its
# messages in order, and its long message whole, all once.
check_round() {
  local file=$1 round=$2 pids pid expected got
  pids=$(jq -r 'select(.id == "W") | .pid' "$file" | sort -u)
  [ "$(echo $pids | wc -w)" -eq $hosts ] || fail "$file: messages from $(echo $pids | wc -w) hosts, not $hosts"
  for pid in $pids; do
    expected=$(for seq in $(seq 0 $((count - 1))); do echo "pid=$pid round=$round seq=$seq"; done)
    got=$(messages_of "$file" "$pid" "$round")
    [ "$got" = "$expected" ] || fail "$file: the messages of $pid differ:$(diff <(echo "$expected") <(echo "$got") | head -5)"
    got=$(jq -r --argjson pid "$pid" 'select(.id == "LONG" and .pid == $pid) | .text' "$file")
    [ "$got" = "pid=$pid round=$round $(printf "%${longLength}s" | tr ' ' L)" ] ||
      fail "$file: the long message of $pid is not there once and whole (${#got} bytes)"
  done
}
# Messages in listener file $1, padded with $2 bytes, and what was said of
# the others: shown whole (W, LONG and LINES; a host counts a message it could write
# only in part as lost), dropped by the listener, lost by the hosts, and the
# hosts' notices of losses, and the torn: a line that holds parts of two
# messages, or text outside any message that is no notice (a message's end
# without its start). A host tells the losses that no later message
# could carry through the pipe on its standard error as it ends: those of
# the hosts whose outputs are WORK/$3*.out count too.
tally() {
  jq -s -r --arg w "P{$2}$" --arg long "L{$longLength}$" \
    '[.[] | select(.continued | not) | (.text // "" | split("\n") | .[0] // "") as $line
      | select((.id == "W" and ($line | test($w))) or (.id == "LONG" and ($line | test($long)))
               or (.id == "LINES" and (.text | split("\n") | length) > 30))] | length' "$1"
  jq -s -r '[.[] | select(.event == "dropped") | .count] | add // 0' "$1"
  local atEnd=$(cat "$work/$3"*.out | grep -o -- "--- [0-9]* messages* lost: the reader was busy ---")
  echo $(($(jq -s -r '[.[] | .text // empty | scan("--- ([0-9]+) messages? lost: the reader was busy ---") | .[0] | tonumber] | add // 0' "$1") +
          $(echo "$atEnd" | awk '{ n += $2 } END { print n + 0 }')))
  echo $(($(jq -s -r '[.[] | .text // empty | scan("--- [0-9]+ messages? lost: the reader was busy ---")] | length' "$1") +
          $(echo "$atEnd" | grep -c .)))
  jq -s -r '[.[] | select(.continued | not) | select(.text)
      | select((.id != null and (.text | split("\n") | .[0] // "" | test("pid=.*pid=|<[A-Z]+>: ")))
               or (.id == null and (.text | test("^--- [0-9]+ messages? lost: the reader was busy ---$") | not)))] | length' "$1"
}
# Whether shown $1 + dropped $2 + lost $3 make up what was sent ($5), with
# no torn line ($4). No message may go uncounted. A message whose start the
# pipe took before its host gave it up is counted by the host as lost, and,
# when the listener's queue was full as that start came, as dropped by the
# listener too: at most one such message per notice of the hosts ($6), which
# is the only way the sum may pass what was sent.
adds_up() {
  local over=$(($1 + $2 + $3 - $5))
  [ "$over" -ge 0 ] && [ "$over" -le "$6" ] && [ "$4" -eq 0 ]
}

# 1 and 2: two rounds, the listener killed and started again between them.
listen first
$emulator "$view" --listen "$name" >/dev/null 2>"$work/again.err" && fail "a second listener of the pipe started"
grep -q "another listener serves it" "$work/again.err" || fail "a second listener: $(cat "$work/again.err")"
for i in $(seq $hosts); do host "round$i" 2 $count 0 $delay; done
# Every message of round 0, the lines last: a listener killed before it has
# them all would lose what it held, which no host can count.
await "$work/first.json" $((hosts * (count + 2))) 'round=0'
kill -9 "$listenerProcess"
wait "$listener" 2>/dev/null
touch "$work/go.1"
sleep 1.5
listen second
wait_hosts
await "$work/second.json" $hosts '"event":"gone"'
stop
check_round "$work/first.json" 0
[ -z "$(grep -v '"round=0\|pid=[0-9]* round=0 ' "$work/first.json")" ] || fail "first.json holds more than round 0"
[ "$(jq -r 'select(.event == "gone") | .pid' "$work/second.json" | sort -u | wc -l)" -eq $hosts ] ||
  fail "second.json does not show each host gone once"
inFallback=0
for pid in $(jq -r 'select(.id == "W") | .pid' "$work/first.json" | sort -u); do
  expected=$(seq 0 $((count - 1)))
  # Standard error is the channel's last resort when no fallback file opens.
  fallen=$(cat "${fallbacks[@]}" "$work"/round*.out 2>/dev/null | tr -d '\r' | grep -o "pid=$pid round=1 seq=[0-9]*$" | sed 's/.*seq=//')
  got=$( (echo "$fallen"; messages_of "$work/second.json" "$pid" 1 | sed 's/.*seq=//') | grep . | sort -n)
  [ "$got" = "$expected" ] || fail "round 1 of $pid, in the fallback files and second.json, is not each message once:$(diff <(echo "$expected") <(echo "$got") | head -5)"
  inFallback=$((inFallback + $(echo "$fallen" | grep -c .)))
done
echo "round 1: $inFallback of $((hosts * count)) messages in the fallback files, the rest through the listener"
[ "$inFallback" -gt 0 ] || fail "no host wrote while the listener was away"
cat "$work/second.json" "$work"/round*.out | grep -q "messages* lost" &&
  fail "a host lost messages: $(cat "$work/second.json" "$work"/round*.out | grep -o '[0-9]* messages* lost')"

# 3a: the listener's output is a pipe that nobody reads until the hosts are done.
mkfifo "$work/out.fifo"
exec 3<>"$work/out.fifo"
listen unread "$work/out.fifo"
for i in $(seq $hosts); do host "unread$i" 1 $slowCount $slowPad; done
await_written unread 0
timeout 300 cat "$work/out.fifo" >"$work/unread.json" 3>&- &
reader=$!
exec 3>&-
wait_hosts
await "$work/unread.json" $hosts '"event":"gone"'
stop
wait $reader
read -r -d '' shown dropped lost notices torn < <(tally "$work/unread.json" $slowPad unread)
echo "unread output: $shown shown, $dropped dropped by the listener, $lost lost by the hosts ($notices notices), of $((hosts * (slowCount + 2))); $torn torn"
adds_up $shown $dropped $lost $torn $((hosts * (slowCount + 2))) $notices || fail "unread output: the counts do not add up"
[ -n "$emulator" ] || [ "$dropped" -gt 0 ] || fail "unread output: the listener's queue never filled"

# 3b: the listener stopped (natively: Wine's processes are not the shell's to stop).
if [ -z "$emulator" ]; then
  listen stopped
  kill -STOP "$listener"
  rm -f "$work/go.1"
  for i in $(seq $hosts); do host "stopped$i" 2 $slowCount $stoppedPad; done
  await_written stopped 0
  kill -CONT "$listener"
  touch "$work/go.1"
  wait_hosts
  await "$work/stopped.json" $hosts '"event":"gone"'
  stop
  read -r -d '' shown dropped lost notices torn < <(tally "$work/stopped.json" $stoppedPad stopped)
  echo "stopped listener: $shown shown, $dropped dropped by the listener, $lost lost by the hosts ($notices notices), of $((hosts * 2 * (slowCount + 2))); $torn torn"
  adds_up $shown $dropped $lost $torn $((hosts * 2 * (slowCount + 2))) $notices || fail "stopped listener: the counts do not add up"
fi

if [ -n "$emulator" ]; then
  "$emulator" reg delete 'HKCU\qz\kprintf' /f >/dev/null 2>&1
  rm -f "${fallbacks[@]}"
fi
[ $status -eq 0 ] && rm -rf "$work"
exit $status
