// Messages with variable arguments into a context of a test's or a
// benchmark's own, keeping the protocol file open or closing it. The tests
// and the benchmarks share it: neither includes the other's files.
#pragma once

#include <cstdarg>

#include "dispatch/emit.h"

namespace trovex {

template <bool keepOpen>
int printMessage(OutputContext* context, const char* typeLetters, const char* id, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = emitMessage(context, typeLetters, id, format, &args, keepOpen);
  va_end(args);
  return result;
}

inline constexpr auto& printKeepOpen = printMessage<true>;
inline constexpr auto& printAndClose = printMessage<false>;

}  // namespace trovex
