// The chunk-collecting output function shared by destinations that pass text
// on in pieces (the host's callback, formatted printing into a stream).
#include <cstring>

#include "common/contract.h"
#include "format/format.h"

namespace {

void collectChar(FormatSink* sink) {
  ChunkCollector* chunks = static_cast<ChunkCollector*>(sink->state);
  if (chunks->fill == chunks->size) {
    chunks->passOn(chunks);
    chunks->fill = 0;
  }
  TROVEX_ASSERT(chunks->fill < chunks->size);
  chunks->text[chunks->fill++] = sink->ch;
}

// A run fills the array exactly as its characters one by one would.
void collectRun(FormatSink* sink, const char* text, unsigned count) {
  ChunkCollector* chunks = static_cast<ChunkCollector*>(sink->state);
  while (count > 0) {
    if (chunks->fill == chunks->size) {
      chunks->passOn(chunks);
      chunks->fill = 0;
    }
    TROVEX_ASSERT(chunks->fill < chunks->size);
    const unsigned room = chunks->size - chunks->fill;
    const unsigned n = count < room ? count : room;
    std::memcpy(chunks->text + chunks->fill, text, n);
    chunks->fill = static_cast<uint16_t>(chunks->fill + n);
    text += n;
    count -= n;
  }
}

}  // namespace

void beginChunkedRun(FormatSink* sink, const char* format, va_list* args, ChunkCollector* chunks) {
  // An empty array could never take a character; a fill beyond it would be
  // written past its end.
  TROVEX_ASSERT(chunks->text && chunks->size > 0 && chunks->fill <= chunks->size);
  beginFormatRun(sink, format, args, collectChar, chunks);
  sink->putRun = collectRun;
  sink->window = chunks;
  sink->cursor = chunks->text + chunks->fill;
  sink->windowEnd = chunks->text + chunks->size;
}
