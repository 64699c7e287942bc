#!/bin/sh
# Runs a 64-bit Windows program as wine-run.sh does, in a 64-bit prefix.
WINEARCH=win64 exec "$(dirname "$0")/wine-run.sh" "$@"
