# Cross-build for 64-bit Windows; tests run under Wine in a 64-bit prefix.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TROVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(TROVEX_WINE_RUN wine64-run.sh)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
