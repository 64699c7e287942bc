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

namespace trovex {
// Out of line and marked cold, so that a check costs its test and a branch
// that is never taken, not the code around it.
[[noreturn]] __attribute__((cold, noinline)) inline void contractBroken(const char* condition, const char* file,
                                                                         int line) {
  std::fprintf(stderr, "%s:%d: trovex contract broken: %s\n", file, line, condition);
  std::abort();
}
}  // namespace trovex

#define TROVEX_ASSERT(condition) \
  (__builtin_expect(!!(condition), 1) ? static_cast<void>(0) : ::trovex::contractBroken(#condition, __FILE__, __LINE__))
#else
// Not evaluated, but still compiled, so that a check cannot rot unseen.
#define TROVEX_ASSERT(condition) static_cast<void>(sizeof((condition) ? 1 : 0))
#endif
