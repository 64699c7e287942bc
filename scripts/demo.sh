#!/usr/bin/env bash
# The main job: builds the library and runs the demo host against it, natively
# and as a Windows program with the real trovex0x1.dll under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

# The demo, and everything that `cmake --install` installs, so that the
# README's install line works after this script too.
for preset in native windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target trovex_demo trovex_shipped -j "$(nproc)" >/dev/null
done
# A Windows program that knows nothing of trovex and writes to the debugger's output.
cmake --build --preset windows --target debug_output_writer -j "$(nproc)" >/dev/null

# Wine says on standard error when it cannot read a drive's raw device for
# the drive listing of the system report; that is Wine's limit, not a fault
# of the demo. Everything else on standard error (the debug channel) passes.
root=$PWD
wine_run() {
  { "$root/cmake/wine-run.sh" "$@" 2>&1 1>&3 3>&- |
      { grep --line-buffered -Ev '^(wine: )?Read access denied for device' || true; } >&2 3>&-; } 3>&1
}

echo "=== native demo (libtrovex.so); the debug channel writes to standard error"
rm -f build/native/bin/demo-protocol.txt
(cd build/native/bin && ./trovex_demo)
echo "--- the protocol file build/native/bin/demo-protocol.txt:"
cat build/native/bin/demo-protocol.txt
echo
echo "=== trovex-view following that file while the demo runs again: the new run starts"
echo "    as the last one did, and the viewer says so and reads it from its start"
echo "    (warnings hidden, colours on, --stats at the end, when the viewer is stopped)"
viewer_out="$PWD/build/native/demo-viewer.txt"
build/native/bin/trovex-view --follow --interval 50 --no-warnings --color=always --stats \
  build/native/bin/demo-protocol.txt >"$viewer_out" 2>&1 &
viewer=$!
sleep 0.5
(cd build/native/bin && ./trovex_demo >/dev/null 2>&1)
sleep 0.5
kill -TERM "$viewer"
wait "$viewer" || true
cat "$viewer_out"
echo
echo "=== native demo with the debug channel switched to a file by environment variables"
channel_file="$PWD/build/native/demo-channel.txt"
rm -f "$channel_file"
(cd build/native/bin && TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_TYPE=2 TROVEX_CHANNEL_PATH="$channel_file" ./trovex_demo >/dev/null)
echo "--- $channel_file:"
cat "$channel_file"
echo
echo "=== live capture: trovex-view --listen serves a named pipe, and two demo hosts whose"
echo "    debug channel names it (\\\\.\\pipe\\NAME, by environment variables) write to it at once;"
echo "    each line comes with its host's process id and program (init messages hidden)"
# A pipe name of this run's own: a listener that someone runs already keeps its name.
pipe=trovex-demo-$$
live() {  # the listener: its notices, then what it showed
  live_out="$1"
  shift
  timeout 60 "$@" --listen "$pipe" --no-init >"$live_out" 2>"$live_out.err" &
  listener=$!
  for _ in $(seq 300); do
    grep -qs "listening on" "$live_out.err" && return 0
    sleep 0.1
  done
}
live_end() {
  sleep 0.5
  kill -TERM "$listener" 2>/dev/null || true
  wait "$listener" || true
  cat "$live_out.err" "$live_out"
}
live "$PWD/build/native/demo-live.txt" build/native/bin/trovex-view
mkdir -p build/native/demo-second-host
(cd build/native/bin && TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_TYPE=2 TROVEX_CHANNEL_PATH="\\\\.\\pipe\\$pipe" \
   timeout 60 ./trovex_demo >/dev/null) &
first_host=$!
(cd build/native/demo-second-host && TROVEX_CHANNEL_USE=1 TROVEX_CHANNEL_TYPE=2 \
   TROVEX_CHANNEL_PATH="\\\\.\\pipe\\$pipe" timeout 60 ../bin/trovex_demo >/dev/null)
wait "$first_host" || true
live_end
echo
echo "=== Windows demo (trovex0x1.dll under Wine)"
export WINEPREFIX="$PWD/build/windows/wineprefix"
(cd build/windows/bin && rm -f demo-protocol.txt && wine_run ./trovex_demo.exe)
echo "--- the protocol file build/windows/bin/demo-protocol.txt:"
cat build/windows/bin/demo-protocol.txt
echo
echo "=== trovex-view.exe under Wine: the Windows demo's protocol file, errors and init only"
(cd build/windows/bin && wine_run ./trovex-view.exe --no-warnings --stats demo-protocol.txt)
echo
echo "=== Windows demo with the debug channel switched to a file in the registry (HKCU\\qz\\kprintf)"
channel_file="$PWD/build/windows/demo-channel.txt"
rm -f "$channel_file"
reg() { cmake/wine-run.sh reg "$@" >/dev/null 2>&1; }
reg add 'HKCU\qz\kprintf' /v use /t REG_DWORD /d 1 /f
reg add 'HKCU\qz\kprintf' /v type /t REG_DWORD /d 2 /f
reg add 'HKCU\qz\kprintf' /v path /t REG_SZ /d "Z:$channel_file" /f
(cd build/windows/bin && wine_run ./trovex_demo.exe >/dev/null)
reg delete 'HKCU\qz\kprintf' /f
echo "--- $channel_file:"
cat "$channel_file"
echo
echo "=== live capture under Wine: trovex-view.exe --listen, and two Windows demo hosts whose"
echo "    channel the ready docs/channel-pipe.reg points at the pipe (here of this run's own name)"
reg import docs/channel-pipe.reg
reg add 'HKCU\qz\kprintf' /v path /t REG_SZ /d "\\\\.\\pipe\\$pipe" /f
mkdir -p build/windows/demo-second-host
live "$PWD/build/windows/demo-live.txt" "$root/cmake/wine-run.sh" build/windows/bin/trovex-view.exe
(cd build/windows/bin && timeout 60 "$root/cmake/wine-run.sh" ./trovex_demo.exe >/dev/null 2>&1) &
first_host=$!
(cd build/windows/demo-second-host && timeout 60 "$root/cmake/wine-run.sh" ../bin/trovex_demo.exe >/dev/null 2>&1)
wait "$first_host" || true
reg delete 'HKCU\qz\kprintf' /f
live_end

echo
echo "=== the debugger's output under Wine: the listener also takes every process's"
echo "    OutputDebugStringA; a Windows demo host whose channel the ready"
echo "    docs/channel-debugger.reg sends to the debugger (type 4), and a program that knows"
echo "    nothing of trovex, in one stream, each line with the time it arrived (--time)"
reg import docs/channel-debugger.reg
live "$PWD/build/windows/demo-debug.txt" "$root/cmake/wine-run.sh" build/windows/bin/trovex-view.exe --time
(cd build/windows/bin && timeout 60 "$root/cmake/wine-run.sh" ./debug_output_writer.exe >/dev/null 2>&1)
(cd build/windows/bin && timeout 60 "$root/cmake/wine-run.sh" ./trovex_demo.exe >/dev/null 2>&1)
reg delete 'HKCU\qz\kprintf' /f
live_end
