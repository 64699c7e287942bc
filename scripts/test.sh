#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: native,
# native with ASan+UBSan, native with ThreadSanitizer, the libFuzzer targets,
# and the 32-bit and 64-bit Windows DLLs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
for preset in native asan tsan fuzz windows windows64; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# Prepare each Wine prefix once: 32-bit for the windows preset, 64-bit for windows64.
WINEPREFIX="$PWD/build/windows64/wineprefix" cmake/wine64-run.sh cmd /c exit >/dev/null 2>&1 || true
export WINEPREFIX="$PWD/build/windows/wineprefix"
cmake/wine-run.sh cmd /c exit >/dev/null 2>&1 || true

status=0
# Each test runs once: a test that fails is a failure.
for preset in native asan tsan fuzz; do
  echo "=== $preset: tests"
  ctest --preset "$preset" -j "$jobs" --output-on-failure || status=1
done

# What Wine prints when it fails to start a program, or its server or a
# helper of its own fails under it, before the program could run: a test
# that failed with one of these runs once more, alone.
WineStartFailures='wine client error|wine: could not (load|exec|connect)|wineserver: '

# Runs a Windows preset's tests once; then each failed test whose output
# shows a Wine start failure runs again, alone, and passes or fails by that
# run. The first run's log stays in Testing/Temporary/FirstRun.log; the names
# of the tests that ran again go to build/PRESET/retried.txt.
windows_tests() {
  local preset=$1 build=build/$1 failed=0 name names
  : >"$build/retried.txt"
  ctest --preset "$preset" -j "$jobs" && return 0
  # A run that failed without naming a failed test failed as a whole.
  names=$(cut -d: -f2 "$build/Testing/Temporary/LastTestsFailed.log" 2>/dev/null) && [ -n "$names" ] || return 1
  cp "$build/Testing/Temporary/LastTest.log" "$build/Testing/Temporary/FirstRun.log"
  for name in $names; do
    # The test's part of the log: from its "Test:" line to its end time.
    if awk -v name="$name" '$0 ~ "^[0-9]+/[0-9]+ Test: " name "$" {on = 1} on {print} on && index($0, "\"" name "\" end time") == 1 {exit}' \
         "$build/Testing/Temporary/FirstRun.log" | grep -Eq "$WineStartFailures"; then
      echo "=== $preset: $name failed as Wine started a program: once more"
      echo "$name" >>"$build/retried.txt"
      ctest --preset "$preset" -R "^$name\$" && continue
    fi
    failed=1
  done
  return $failed
}

# The two Windows builds test in Wine prefixes of their own and mostly wait
# for Wine, so they run side by side; the 64-bit output follows the 32-bit.
windows_tests windows64 >build/windows64/ctest-output.txt 2>&1 &
windows64=$!
echo "=== windows: tests"
windows_tests windows || status=1
wait "$windows64" || status=1
echo "=== windows64: tests"
cat build/windows64/ctest-output.txt

for preset in windows windows64; do
  while read -r name; do
    echo "retried after a Wine start failure: $name ($preset)"
  done <"build/$preset/retried.txt"
done
exit $status
