// Contract checks: TROVEX_ASSERT states a condition that a function relies
// on (a stream's position inside its buffer, a piece's size, a field's
// terminator). A broken contract is a fault of the library, never of the host.
//
// The checks run where the library is tested: the native builds, plain and
// with the sanitizers and fuzzers, where CMake defines TROVEX_CONTRACTS. In
// the Windows DLL, the shipped product, they compile to nothing. NDEBUG does
// not decide this: the release-with-debug-info presets define it natively and
// for Windows alike, and the sanitizer builds would then check nothing.
#pragma once

#if defined(TROVEX_CONTRACTS)
#include <cstdio>
#include <cstdlib>

#define TROVEX_ASSERT(condition)                                                                      \
  ((condition) ? static_cast<void>(0)                                                                 \
               : (std::fprintf(stderr, "%s:%d: trovex contract broken: %s\n", __FILE__, __LINE__, #condition), \
                  std::abort()))
#else
// Not evaluated, but still compiled, so that a check cannot rot unseen.
#define TROVEX_ASSERT(condition) static_cast<void>(sizeof((condition) ? 1 : 0))
#endif
