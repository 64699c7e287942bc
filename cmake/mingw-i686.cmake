# Cross-build for 32-bit Windows; tests run under Wine in a 32-bit prefix.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TROVEX_MINGW_PREFIX i686-w64-mingw32)
set(TROVEX_WINE_RUN wine-run.sh)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
