// Inside the format engine: the output window. Characters go straight into
// the window (a chunk collector's array) while it has room; the slow paths
// bring its fill up to date and hand the rest to the sink's output function.
#pragma once

#include <cstring>

#include "format/format.h"

namespace trovex {

// The slow paths of the three below: the window's fill is brought up to
// date, the output function takes the text, and the cursor follows the fill.
void putCharSlowly(FormatSink* sink, char c);
void putRunSlowly(FormatSink* sink, const char* text, unsigned count);
void putRepeatedSlowly(FormatSink* sink, char c, unsigned count);

// The window's fill from the engine's cursor, before the output function or
// the run's owner looks at it.
inline void syncWindow(FormatSink* sink) {
  if (ChunkCollector* window = sink->window) window->fill = static_cast<uint16_t>(sink->cursor - window->text);
}

// The cursor from the window's fill, after the output function changed it.
inline void followWindow(FormatSink* sink) {
  if (ChunkCollector* window = sink->window) sink->cursor = window->text + window->fill;
}

// Emits one character: into the window while it has room, else through the
// sink's output function.
inline void emitChar(FormatSink* sink, char c) {
  if (sink->cursor != sink->windowEnd) {
    *sink->cursor++ = c;
    return;
  }
  putCharSlowly(sink, c);
}

// Copies count bytes. The runs between directives and the digits of a
// number are mostly short, where a call to the C library's copy costs more
// than the copy: up to 16 bytes are moved as two overlapping fixed-size
// pieces, which compile to plain loads and stores.
inline void copyBytes(char* to, const char* from, unsigned count) {
  if (count >= 8 && count <= 16) {
    std::memcpy(to, from, 8);
    std::memcpy(to + count - 8, from + count - 8, 8);
  } else if (count >= 4 && count < 8) {
    std::memcpy(to, from, 4);
    std::memcpy(to + count - 4, from + count - 4, 4);
  } else if (count < 4) {
    for (unsigned i = 0; i < count; ++i) to[i] = from[i];
  } else {
    std::memcpy(to, from, count);
  }
}

// count characters at once: into the window when they all fit, else where
// the output function takes runs, else one by one.
[[gnu::always_inline]] inline void emitRun(FormatSink* sink, const char* text, unsigned count) {
  char* const cursor = sink->cursor;
  if (count <= static_cast<size_t>(sink->windowEnd - cursor)) {
    copyBytes(cursor, text, count);
    sink->cursor = cursor + count;
    return;
  }
  putRunSlowly(sink, text, count);
}

inline void emitRepeated(FormatSink* sink, char c, unsigned count) {
  char* const cursor = sink->cursor;
  if (count <= static_cast<size_t>(sink->windowEnd - cursor)) {
    // A field's fill is mostly a few characters, where a call costs more.
    if (count <= 8)
      for (unsigned i = 0; i < count; ++i) cursor[i] = c;
    else
      std::memset(cursor, c, count);
    sink->cursor = cursor + count;
    return;
  }
  putRepeatedSlowly(sink, c, count);
}

// The digit table: lower-case half first, upper-case half second.
extern const char digitTable[33];

}  // namespace trovex
