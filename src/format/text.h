// Inside the format engine: text and memory-dump conversions.
#pragma once

#include "format/format.h"

namespace trovex {

// "s" (plain) and "S" (escaped): text is 8-bit, or 16-bit units with WideChars; null prints "**NULL**".
void emitText(FormatSink* sink, const void* text, bool escaped);
// The same with no flags, width or precision.
void emitPlainText(FormatSink* sink, const void* text, bool escaped);

// "p" and "P" (with a character column): hexadecimal dump of precision bytes, 16 by default.
void dumpMemory(FormatSink* sink, const void* memory, bool withCharacters);

// Whether the engine classes a byte as printable (0x20-0x7E, 0xA1-0xFF).
bool isPrintableChar(unsigned char c);

}  // namespace trovex
