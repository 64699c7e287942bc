#!/bin/sh
# Runs a Windows program under Wine in a prefix of the build's own, so no
# registry value or file of another prefix is ever seen. A new prefix is made
# for WINEARCH (win32 unless set: the 32-bit build's programs); a prefix that
# exists keeps the architecture it was made with.
: "${WINEPREFIX:=$(pwd)/wineprefix}"
case "$WINEPREFIX" in /*) ;; *) WINEPREFIX=$(pwd)/$WINEPREFIX ;; esac
export WINEPREFIX
export WINEDEBUG="${TROVEX_WINEDEBUG:--all}"  # a test may ask for one channel of Wine's trace
# No menu entries for the desktop: the helper that writes them is of no use
# here, and one that crashes on start prints its notice into a test's output.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  WINEARCH="${WINEARCH:-win32}" wineboot -i >/dev/null 2>&1
  wineserver -w
fi
unset WINEARCH
exec wine "$@"
