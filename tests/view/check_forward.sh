#!/usr/bin/env bash
# trovex-view --forward into a real collector: rsyslogd, run as the test's
# own user on free ports with a folder of its own, writes each record's
# fields as a JSON line. Without a collector the viewer shows, says so once
# and ends with the count it never delivered. Four hosts write through one
# listener over TCP: every message arrives once and whole, in each host's
# order, with its fields, a Windows-1252 "ä" as UTF-8; and again, 2,000
# messages each, while the listener's standard output is never read. Over UDP a short
# message arrives whole and a long one cut and marked. A collector stopped
# and started again while messages come in: what it holds, plus the drops
# the viewer reports, is what was written. Natively the hosts find
# the pipe by the environment; under Wine by the ready .reg file.
#
#   bash check_forward.sh VIEW WRITER WORK REG-FILE RSYSLOGD [EMULATOR]
set -u
view=$1 writer=$2 work=$(realpath -m "$3") regFile=$4 rsyslogd=$5 emulator=${6:-}
hosts=4 count=200
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

rm -rf "$work"
mkdir -p "$work/spool"
records=$work/records.json
at=  # the path prefix of the viewer's files
if [ -n "$emulator" ]; then
  name=trovex program=pipe_writer.exe at=Z:
  "$emulator" reg import "$regFile" >/dev/null 2>&1 || fail "cannot import $regFile"
else
  name=trovex-forward-$$ program=pipe_writer
  # The run's own runtime folder, for the pipe folder and the first fallback:
  # never the user's, where their own listener may run.
  export XDG_RUNTIME_DIR=$work/run && mkdir -m 0700 "$XDG_RUNTIME_DIR"
  export TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_TYPE=2 TROVEX_CHANNEL_PATH="\\\\.\\pipe\\$name"
fi

# A port nobody serves now, of the kind $1 (SOCK_STREAM or SOCK_DGRAM).
free_port() {
  python3 -c "import socket; s = socket.socket(socket.AF_INET, socket.$1); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"
}
tcp=$(free_port SOCK_STREAM) udp=$(free_port SOCK_DGRAM)

cat >"$work/rsyslog.conf" <<EOF
global(workDirectory="$work/spool" maxMessageSize="256k" net.enableDNS="off"
       parser.escapeControlCharactersOnReceive="off")
module(load="imtcp")
module(load="imudp")
template(name="fields" type="list") {
  constant(value="{\"severity\":") property(name="syslogseverity")
  constant(value=",\"facility\":") property(name="syslogfacility")
  constant(value=",\"app\":\"") property(name="app-name" format="json")
  constant(value="\",\"procid\":\"") property(name="procid" format="json")
  constant(value="\",\"msgid\":\"") property(name="msgid" format="json")
  constant(value="\",\"sd\":\"") property(name="structured-data" format="json")
  constant(value="\",\"msg\":\"") property(name="msg" format="json")
  constant(value="\"}\n")
}
ruleset(name="collect") { action(type="omfile" file="$records" template="fields") }
input(type="imtcp" port="$tcp" address="127.0.0.1" ruleset="collect")
input(type="imudp" port="$udp" address="127.0.0.1" ruleset="collect")
EOF

collector=
start_collector() {
  "$rsyslogd" -n -f "$work/rsyslog.conf" -i "$work/rsyslog.pid" >>"$work/rsyslog.log" 2>&1 4>&- &
  collector=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$tcp") 2>/dev/null && return 0
    sleep 0.1
  done
  fail "rsyslogd did not start: $(cat "$work/rsyslog.log")"
}
stop_collector() {
  kill "$collector" 2>/dev/null
  wait "$collector" 2>/dev/null
  collector=
}
viewer=
# Stops the viewer. Natively it ends as after Ctrl-C, with status 0; Wine
# ends a program on SIGTERM without running its handlers.
stop_viewer() {
  kill "$viewer" 2>/dev/null
  wait "$viewer" || [ -n "$emulator" ] || fail "the viewer ended with $?"
}
trap '[ -n "$collector" ] && stop_collector' EXIT
# Waits (at most a minute) until the collector holds $1 records that jq's $2 selects.
await() {
  for _ in $(seq 600); do
    [ "$(jq -c "select($2)" "$records" 2>/dev/null | wc -l)" -ge "$1" ] && return 0
    sleep 0.1
  done
  fail "the collector holds $(jq -c "select($2)" "$records" | wc -l) records with $2, not $1"
}
# The message text without the byte order mark that starts it.
text='(.msg | if startswith("\ufeff") then .[1:] else "NO BOM: " + . end)'

# No collector at all: shown, said once, exit 0 with the count.
printf 'warn<A>: one\nerror<B>: two\n' >"$work/two.txt"
$emulator "$view" --forward "syslog+tcp://127.0.0.1:$tcp" "$at$work/two.txt" >"$work/none.out" 2>"$work/none.err" ||
  fail "without a collector the viewer ended with $?"
[ "$(cat "$work/none.out")" = "$(cat "$work/two.txt")" ] || fail "without a collector it showed: $(cat "$work/none.out")"
[ "$(grep -c "cannot reach" "$work/none.err")" -eq 1 ] || fail "not said once: $(cat "$work/none.err")"
grep -q "2 records never reached syslog+tcp://127.0.0.1:$tcp (0 dropped.*, 2 still queued" "$work/none.err" ||
  fail "no count of what never left: $(cat "$work/none.err")"

start_collector

# Starts a listener (listen_to OUT ERR OPTIONS...) and waits until it listens.
listen_to() {
  local out=$1 err=$2
  shift 2
  $emulator "$view" --listen "$name" "$@" >"$out" 2>"$err" &
  viewer=$!
  for _ in $(seq 300); do
    grep -qs "listening on" "$err" && break
    sleep 0.1
  done
}
# Runs the hosts (run_hosts COUNT OUT-PREFIX [PAD]) and waits for them.
run_hosts() {
  local writers=() i pid
  for i in $(seq $hosts); do
    $emulator "$writer" 1 "$1" "$at$work/go" ${3:+"$3"} >"$2$i.host" 2>&1 &
    writers+=($!)
  done
  for pid in "${writers[@]}"; do
    wait "$pid" || fail "a host ended with $?"
  done
}

# Four hosts through one listener.
listen_to /dev/null "$work/listen.err" --quiet --forward "syslog+tcp://127.0.0.1:$tcp"
run_hosts $count "$work/quiet"
await $hosts '.sd | contains("event=\"gone\"")'
stop_viewer
grep -q "cannot reach\|never reached" "$work/listen.err" && fail "the listener: $(cat "$work/listen.err")"
pids=$(jq -r 'select(.msgid == "W") | .procid' "$records" | sort -u)
[ "$(echo $pids | wc -w)" -eq $hosts ] || fail "records from $(echo $pids | wc -w) hosts, not $hosts"
lines=$(for i in $(seq 0 29); do printf '%02d M\xc3\xa4r %-92d\n' $i $i; done)
for pid in $pids; do
  expected=$(for seq in $(seq 0 $((count - 1))); do echo "4 1 $program - pid=$pid round=0 seq=$seq"; done)
  got=$(jq -r --arg pid "$pid" "select(.msgid == \"W\" and .procid == \$pid) | \"\(.severity) \(.facility) \(.app) \(.sd) \($text)\"" "$records")
  [ "$got" = "$expected" ] || fail "the messages of $pid differ:$(diff <(echo "$expected") <(echo "$got") | head -5)"
  got=$(jq -r --arg pid "$pid" "select(.msgid == \"LONG\" and .procid == \$pid) | \"\(.severity) \($text)\"" "$records")
  [ "$got" = "3 pid=$pid round=0 $(printf "%3000s" | tr ' ' L)" ] || fail "the long message of $pid: ${#got} bytes"
  got=$(jq -r --arg pid "$pid" "select(.msgid == \"LINES\" and .procid == \$pid) | \"\(.severity) \($text)\"" "$records")
  [ "$got" = "6 pid=$pid round=0 of lines:
$lines" ] || fail "the message of lines of $pid:$(diff <(echo "6 pid=$pid round=0 of lines:"; echo "$lines") <(echo "$got") | head -5)"
  got=$(jq -r --arg pid "$pid" "select(.procid == \$pid and .msgid == \"-\") | \"\(.severity) \(.sd) \($text)\"" "$records")
  [ "$got" = "5 [trovex@32473 event=\"gone\"] --- gone ---" ] || fail "$pid gone: $got"
done
[ "$(wc -l <"$records")" -eq $((hosts * (count + 3))) ] || fail "$(wc -l <"$records") records, not $((hosts * (count + 3)))"
cp "$records" "$work/hosts.json"
: >"$records"

# Standard output that nobody reads (a pipe whose reader never reads) while
# four hosts write 2,000 messages each: the collector gets every record that
# reached the listener while the output stays stalled, and the listener
# drops none. A message a host could not hand to the pipe in time (a loaded
# machine) is one the host counts as lost, though its start may have come
# through: the messages the collector holds whole (their padding is whole;
# each host's long message and message of lines included) plus the lost ones
# are what was sent, or more by at most one such start per notice of the
# hosts.
stalledCount=2000 stalledPad=20
mkfifo "$work/stalled.out"
exec 5<>"$work/stalled.out"
listen_to "$work/stalled.out" "$work/stalled.err" --forward "syslog+tcp://127.0.0.1:$tcp"
run_hosts $stalledCount "$work/stalled" $stalledPad
await $hosts '.sd | contains("event=\"gone\"")'
kill -0 "$viewer" 2>/dev/null || fail "the listener ended while its output was stalled"
stop_viewer
exec 5>&-
grep -q "never reached" "$work/stalled.err" && fail "the listener: $(cat "$work/stalled.err")"
[ -z "$(jq -c 'select(.app == "trovex-view")' "$records")" ] || fail "the listener dropped: $(jq -c 'select(.app == "trovex-view")' "$records")"
held=0
for pid in $(jq -r 'select(.msgid == "W") | .procid' "$records" | sort -u); do
  got=$(jq -r --arg pid "$pid" --arg whole "seq=[0-9]+P{$stalledPad}$" \
    "select(.msgid == \"W\" and .procid == \$pid) | $text | select(test(\$whole)) | sub(\".*seq=(?<n>[0-9]+).*\"; \"\\(.n)\")" "$records")
  [ "$(echo "$got" | sort -n | uniq)" = "$got" ] || fail "the messages of $pid are out of order or there twice"
  held=$((held + $(echo "$got" | grep -c .)))
done
held=$((held + $(jq -r "select((.msgid == \"LONG\" and ($text | test(\"L{3000}$\")))
                                 or (.msgid == \"LINES\" and ($text | split(\"\n\") | length) == 31)) | .procid" "$records" | wc -l)))
losses=$( (jq -r "$text" "$records"; cat "$work"/stalled*.host) | grep -o -- "--- [0-9]* messages* lost: the reader was busy ---")
lost=$(echo "$losses" | awk '{ n += $2 } END { print n + 0 }') notices=$(echo "$losses" | grep -c .)
sent=$((hosts * (stalledCount + 2)))
echo "stalled output: the collector holds $held messages whole, the hosts lost $lost ($notices notices), of $sent"
over=$((held + lost - sent))
[ "$over" -ge 0 ] && [ "$over" -le "$notices" ] || fail "stalled output: $held held and $lost lost, not $sent"
[ "$held" -gt 0 ] || fail "stalled output: nothing reached the collector"
cp "$records" "$work/stalled.json"
: >"$records"

# UDP: a short message whole, a long one cut to a datagram and marked; what
# the filter hides is not forwarded either.
printf 'warn<X>: hidden\nwarn<U>: short\ninit<U>: %03000d\n' 0 |
  $emulator "$view" --quiet --exclude X --facility local3 --forward "syslog+udp://127.0.0.1:$udp" - 2>"$work/udp.err" ||
  fail "the viewer over UDP ended with $?"
await 2 '.msgid == "U"'
[ -z "$(jq -c 'select(.msgid == "X")' "$records")" ] || fail "a hidden message was forwarded"
got=$(jq -r "select(.msgid == \"U\") | \"\(.severity) \(.facility) \(.app) \($text)\"" "$records" | head -1)
[ "$got" = "4 19 - short" ] || fail "the short datagram: $got"
got=$(jq -r "select(.msgid == \"U\" and .severity == 6) | $text" "$records")
[ "${got% \[cut\]}" != "$got" ] && [ "${#got}" -gt 1500 ] && [ "${#got}" -lt 2048 ] && [ -z "$(echo "${got% \[cut\]}" | tr -d 0)" ] ||
  fail "the long datagram, ${#got} bytes: ${got:0:40}...${got: -20}"
: >"$records"

# The collector stopped while messages come in on standard input: records
# held, the rest dropped and counted; it is back, and takes what was held, a
# notice of the drops, and what comes later. Each batch ends with a message
# of its own, so that its last counted one is handed on (a pipe read on
# Windows waits, with no pause to hand on the last message).
mkfifo "$work/input"
$emulator "$view" --quiet --forward "syslog+tcp://127.0.0.1:$tcp" - <"$work/input" 2>"$work/input.err" &
viewer=$!
exec 4>"$work/input"
small=100 big=400 bigBytes=60000
for i in $(seq 0 $((small - 1))); do echo "warn<R>: seq=$i"; done >&4
echo "init<END>: A" >&4
await $small '.msgid == "R"'
stop_collector
for i in $(seq $small $((small + big - 1))); do printf 'warn<R>: seq=%d %0*d\n' $i $bigBytes 0; done >&4
echo "init<END>: B" >&4
for _ in $(seq 300); do
  grep -qs "cannot reach" "$work/input.err" && break
  sleep 0.1
done
start_collector
last=$((2 * small + big - 1))
for i in $(seq $((small + big)) $last); do echo "warn<R>: seq=$i"; done >&4
exec 4>&-
wait "$viewer" || fail "the viewer ended with $?"
await 1 ".msgid == \"R\" and (.msg | endswith(\"seq=$last\"))"
held=$(jq -r 'select(.msgid == "R") | .msg | sub("^\ufeffseq=(?<n>[0-9]+).*"; "\(.n)")' "$records")
[ "$(echo "$held" | sort -n | uniq -d)" = "" ] || fail "records held twice"
[ "$(echo "$held" | sort -n)" = "$held" ] || fail "records out of order"
dropped=$(jq -r 'select(.app == "trovex-view") | .msg | sub("^\ufeff--- (?<n>[0-9]+) records? dropped.*"; "\(.n)")' "$records" |
  awk '{ sum += $1 } END { print sum + 0 }')
[ $(($(echo "$held" | wc -l) + dropped)) -eq $((last + 1)) ] ||
  fail "the collector holds $(echo "$held" | wc -l) records and $dropped dropped, not $((last + 1))"
[ "$dropped" -gt 0 ] || fail "nothing was dropped: the queue held all of $big records of $bigBytes bytes"
grep -q "^trovex-view: $dropped records never reached .* ($dropped dropped while the queue was full, 0 still queued" \
  "$work/input.err" || fail "the viewer's report: $(cat "$work/input.err")"
[ "$(grep -c "cannot reach" "$work/input.err")" -eq 1 ] || fail "the collector's absence said more than once"
echo "held $(echo "$held" | wc -l), dropped $dropped of $((last + 1))"

stop_collector
[ -n "$emulator" ] && "$emulator" reg delete 'HKCU\qz\kprintf' /f >/dev/null 2>&1
[ $status -eq 0 ] && rm -rf "$work"
exit $status
