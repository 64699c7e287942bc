# Cross-build for Windows with Debian's mingw-w64 toolchain, included by the
# toolchain file of each architecture after it has set TROVEX_MINGW_PREFIX
# and TROVEX_WINE_RUN; tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TROVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TROVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TROVEX_MINGW_PREFIX}-windres)
set(CMAKE_CXX_COMPILER_TARGET ${TROVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH /usr/${TROVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Floating point in SSE2 double arithmetic, no x87 extended precision and no
# fused multiply-add, so every build prints the same digits.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -ffp-contract=off")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/${TROVEX_WINE_RUN})
