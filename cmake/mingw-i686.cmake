# Cross-build for 32-bit Windows with Debian's mingw-w64 toolchain; tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TROVEX_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TROVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TROVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TROVEX_MINGW_PREFIX}-windres)
set(CMAKE_CXX_COMPILER_TARGET ${TROVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH /usr/${TROVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Floating point in SSE2 double arithmetic, no x87 extended precision and no
# fused multiply-add, so both builds print the same digits.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -ffp-contract=off")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
