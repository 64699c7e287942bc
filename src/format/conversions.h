// Inside the format engine: the conversions that convertStandard dispatches to.
#pragma once

#include "format/format.h"

// Emits one character through the sink's output function.
inline void emitChar(FormatSink* sink, char c) {
  sink->ch = c;
  sink->put(sink);
}

inline void emitRepeated(FormatSink* sink, char c, unsigned count) {
  while (count-- > 0) emitChar(sink, c);
}

// The digit table: lower-case half first, upper-case half second.
extern const char digitTable[33];

// Integer letters "d", "i", "D", "I" (signed) and "u", "U", "x", "X", "o", "O" (unsigned).
void convertSigned(FormatSink* sink, unsigned radix, bool upperCase, char groupSeparator);
void convertUnsigned(FormatSink* sink, unsigned radix, bool upperCase, char groupSeparator);

// The letter "f".
void convertFloat(FormatSink* sink);
