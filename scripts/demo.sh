#!/usr/bin/env bash
# The main job: builds the library and runs the demo host against it, natively
# and as a Windows program with the real trovex0x1.dll under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

for preset in native windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target trovex_demo -j "$(nproc)" >/dev/null
done

echo "=== native demo (libtrovex.so)"
(cd build/native/bin && ./trovex_demo)
echo
echo "=== Windows demo (trovex0x1.dll under Wine)"
export WINEPREFIX="$PWD/build/windows/wineprefix"
(cd build/windows/bin && ../../../cmake/wine-run.sh ./trovex_demo.exe)
