#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: native,
# native with ASan+UBSan, native with ThreadSanitizer, the libFuzzer targets,
# and the Windows DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
for preset in native asan tsan fuzz windows; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

export WINEPREFIX="$PWD/build/windows/wineprefix"
cmake/wine-run.sh cmd /c exit >/dev/null 2>&1 || true  # prepare the Wine prefix once

status=0
for preset in native asan tsan fuzz windows; do
  echo "=== $preset: tests"
  ctest --preset "$preset" -j "$jobs" || status=1
done
exit $status
