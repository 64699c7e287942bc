# Steps that the listener's scripts share; sourced, with $view, $name,
# $emulator set and $status counting failures.

fail() {
  echo "FAIL: $*" >&2
  status=1
}
listener= listenerProcess=
# Starts a listener of $name (start_listener OUT ERR OPTIONS...), its output
# in OUT and notices in ERR, and waits until it listens. $listener is the
# shell's child, to wait for; $listenerProcess the listener's own process, to
# signal: under 64-bit Wine the child is the start.exe that started it,
# which passes no signal on, and the listener is found by its whole path (so
# that another copy of the suite's is never taken).
start_listener() {
  local out=$1 err=$2
  shift 2
  $emulator "$view" --listen "$name" "$@" >"$out" 2>"$err" &
  listener=$! listenerProcess=$!
  for _ in $(seq 300); do
    if grep -qs "listening on" "$err"; then
      [ -n "$emulator" ] &&
        listenerProcess=$(pgrep -f "^[A-Za-z]:$(printf '%s' "$view" | sed 's#/#\\\\#g') --listen $name" | head -1)
      listenerProcess=${listenerProcess:-$listener}
      return 0
    fi
    kill -0 "$listener" 2>/dev/null || break
    sleep 0.1
  done
  fail "listener $out did not start: $(cat "$err")"
}
stop() {
  kill "$listenerProcess" 2>/dev/null
  wait "$listener" 2>/dev/null
}
# Waits (at most a minute) until $1 holds $2 lines that match $3.
await() {
  for _ in $(seq 600); do
    [ "$(grep -c -- "$3" "$1" 2>/dev/null)" -ge "$2" ] && return 0
    sleep 0.1
  done
  fail "$1 holds $(grep -c -- "$3" "$1" 2>/dev/null) lines with $3, not $2"
}
