#!/bin/sh
# Runs a Windows program under Wine in a prefix of the build's own, so no
# registry value or file of another prefix is ever seen.
: "${WINEPREFIX:=$(pwd)/wineprefix}"
case "$WINEPREFIX" in /*) ;; *) WINEPREFIX=$(pwd)/$WINEPREFIX ;; esac
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
exec wine "$@"
