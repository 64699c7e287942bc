#!/usr/bin/env bash
# Hosts that share one file. Four hosts at once write the debug channel's
# file and one protocol file, with the protocol file opened "a" or "w", kept
# open between messages or closed after each; the channel's file is kept
# open (type 2) in the rounds whose protocol file is, and closed after each
# message (type 0x102) in the others, where the hosts take turns at both.
# Every message is found whole and once in the file or in a fallback: a
# host that finds the file held waits for it, then takes a fallback, and
# never overwrites another's text. With "w" a host's first open empties the file by design,
# so there only what the hosts wrote while the file was held by one of them
# must be kept: each host's own messages are all there, in its order.
#
#   bash check_sharing.sh WRITER WORK [EMULATOR]
set -u
writer=$1 work=$(realpath -m "$2") emulator=${3:-}
hosts=4 count=1000
# Under Wine each host starts a good while after the one before: more
# messages make the four overlap.
[ -n "$emulator" ] && count=3000
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

rm -rf "$work"
mkdir -p "$work/tmp"
cd "$work" || exit 1
if [ -n "$emulator" ]; then
  # The channel's key in the build's own prefix; its fallbacks are
  # c:\tmp\kprintf.txt, c:\kprintf.txt and kprintf.txt.
  drive=${WINEPREFIX:?}/drive_c
  fallbacks=("$drive/tmp/kprintf.txt" "$drive/kprintf.txt" "$work/kprintf.txt")
  mkdir -p "$drive/tmp"
  "$emulator" reg add 'HKCU\qz\kprintf' /v use /t REG_DWORD /d 1 /f >/dev/null 2>&1
  "$emulator" reg add 'HKCU\qz\kprintf' /v path /t REG_SZ /d "Z:${work//\//\\}\\chan.txt" /f >/dev/null 2>&1
  temp=$(cd "$drive" && ls -d users/*/Temp 2>/dev/null | head -1)
  protocolFallback="$drive/$temp/proto.txt"
else
  # The run's own runtime folder, for the pipe folder and the first fallback:
  # never the user's, where their own listener may run.
  export XDG_RUNTIME_DIR=$work/run && mkdir -m 0700 "$XDG_RUNTIME_DIR"
  fallbacks=("$XDG_RUNTIME_DIR/kprintf.txt" "$work/kprintf.txt")
  export TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_PATH="$work/chan.txt" TMPDIR="$work/tmp"
  protocolFallback="$work/tmp/proto.txt"
fi
# Lines of this test's hosts only: under Wine the prefix's fallbacks may hold
# others' text.
ours() { cat "$@" 2>/dev/null | grep -a '^warn<S>: host=' | grep -aF -f "$work/hosts"; }

for mode in a w; do
  for keep in 0 1; do
    rm -f "$work/chan.txt" "$work/proto.txt" "$protocolFallback" "$work/hosts"
    type=$((keep ? 2 : 0x102))
    if [ -n "$emulator" ]; then
      "$emulator" reg add 'HKCU\qz\kprintf' /v type /t REG_DWORD /d $type /f >/dev/null 2>&1
    else
      export TROVEX_CHANNEL_TYPE=$type
    fi
    # Fallback files of others are put aside for the round.
    for f in "${fallbacks[@]}"; do [ -e "$f" ] && mv "$f" "$f.before-sharing-test"; done
    pids=()
    for i in $(seq $hosts); do
      $emulator "$writer" $count proto.txt $mode $keep "$$-$mode$keep-$i" >"$work/host$i.out" 2>"$work/host$i.err" &
      pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || fail "$mode $keep: a host failed"; done
    printf 'host=%s \n' $(seq -f "$$-$mode$keep-%g" $hosts) >"$work/hosts"
    seen=$(cat chan.txt "${fallbacks[@]}" proto.txt "$protocolFallback" 2>/dev/null | grep -aoF -f "$work/hosts" | sort -u | wc -l)
    [ "$seen" -eq $hosts ] || fail "$mode $keep: $seen hosts seen, not $hosts"
    where="mode $mode, keep-open $keep, channel type $type"
    # The channel: every message once, whole.
    channel=$(ours chan.txt "${fallbacks[@]}" | sort | uniq -c | awk '$1 != 1' | head -3)
    [ -z "$channel" ] || fail "$where: channel lines twice: $channel"
    n=$(ours chan.txt "${fallbacks[@]}" | wc -l)
    [ "$n" -eq $((hosts * count)) ] || fail "$where: the channel's files hold $n of $((hosts * count)) messages"
    # The protocol file and its fallback: every message once, whole, and in
    # each host's order within each file.
    protocol=$(ours proto.txt "$protocolFallback" | sort | uniq -c | awk '$1 != 1' | head -3)
    [ -z "$protocol" ] || fail "$where: protocol lines twice: $protocol"
    n=$(ours proto.txt "$protocolFallback" | wc -l)
    if [ $mode = a ]; then
      [ "$n" -eq $((hosts * count)) ] || fail "$where: the protocol files hold $n of $((hosts * count)) messages"
    else
      # Each host's text is whole from its first kept line on.
      [ "$n" -gt 0 ] || fail "$where: the protocol files hold nothing"
    fi
    for file in proto.txt "$protocolFallback" chan.txt "${fallbacks[@]}"; do
      while read -r host; do
        seqs=$(ours "$file" | grep -aF "$host" | sed 's/.* seq=\([0-9]*\) .*/\1/')
        [ -z "$seqs" ] && continue
        first=$(echo "$seqs" | head -1)
        expected=$(seq "$first" $((first + $(echo "$seqs" | wc -l) - 1)))
        [ "$seqs" = "$expected" ] || fail "$where: $file: $host's messages out of order or with a gap"
      done <"$work/hosts"
    done
    # Every line of the channel's file is one message of a host, whole (or
    # the empty line before a host's first message).
    whole='^\(warn<S>: host=[0-9a-z-]* seq=[0-9]* of [0-9]*\)\?$'
    torn=$(grep -avc "$whole" chan.txt 2>/dev/null)
    [ "${torn:-0}" -eq 0 ] || fail "$where: $torn torn lines in the channel's file: $(grep -av "$whole" chan.txt | head -2)"
    echo "$where: protocol $(ours proto.txt | wc -l) + $(ours "$protocolFallback" | wc -l) in its fallback, channel $(ours chan.txt | wc -l) + $(ours "${fallbacks[@]}" | wc -l) in fallbacks"
    for f in "${fallbacks[@]}"; do
      if [ -e "$f.before-sharing-test" ]; then mv "$f.before-sharing-test" "$f"; else rm -f "$f"; fi
    done
  done
done

[ -n "$emulator" ] && "$emulator" reg delete 'HKCU\qz' /f >/dev/null 2>&1
cd / && rm -rf "$work"
exit $status
