// The output window's slow paths: what the inline emitters call when the
// window is full or absent.
#include "format/sink.h"

namespace trovex {

const char digitTable[33] = "0123456789abcdef0123456789ABCDEF";

void putCharSlowly(FormatSink* sink, char c) {
  syncWindow(sink);
  sink->ch = c;
  sink->put(sink);
  followWindow(sink);
}

void putRunSlowly(FormatSink* sink, const char* text, unsigned count) {
  if (!sink->putRun) {
    for (unsigned i = 0; i < count; ++i) emitChar(sink, text[i]);
    return;
  }
  if (count == 0) return;
  syncWindow(sink);
  sink->putRun(sink, text, count);
  followWindow(sink);
}

// A fill wider than the window's room goes out as runs of a block of fill
// characters: a field thousands wide costs a few runs, not a call per
// character.
void putRepeatedSlowly(FormatSink* sink, char c, unsigned count) {
  char block[64];
  std::memset(block, c, count < sizeof block ? count : sizeof block);
  for (unsigned n; count > 0; count -= n) {
    n = count < sizeof block ? count : static_cast<unsigned>(sizeof block);
    emitRun(sink, block, n);
  }
}

}  // namespace trovex
