// The output window's slow paths: what the inline emitters call when the
// window is full or absent.
#include "format/sink.h"

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
