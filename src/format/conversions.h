// Inside the format engine: the conversions that convertStandard dispatches to.
#pragma once

#include "format/format.h"

// Emits one character through the sink's output function.
inline void emitChar(FormatSink* sink, char c) {
  sink->ch = c;
  sink->put(sink);
}

// count characters at once where the output function takes runs.
inline void emitRun(FormatSink* sink, const char* text, unsigned count) {
  if (sink->putRun) {
    if (count > 0) sink->putRun(sink, text, count);
    return;
  }
  for (unsigned i = 0; i < count; ++i) emitChar(sink, text[i]);
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
