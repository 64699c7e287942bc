// The chunk-collecting output function, and the pieces in which destinations
// hand text out (the host's callback, the debug channel, a stream's print).
#include <cstring>

#include "common/contract.h"
#include "format/format.h"

namespace trovex {

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

namespace {
struct PieceRun {
  ChunkCollector chunks;  // owned by this record
  PiecePut put;
  void* owner;
};

void passFullPiece(ChunkCollector* chunks) {
  const PieceRun* run = static_cast<const PieceRun*>(chunks->owner);
  run->put(run->owner, chunks->text, chunks->size);
}
}  // namespace

void formatInPieces(const char* format, va_list* args, char* pieceArray, uint16_t size, PiecePut put, void* owner) {
  PieceRun run{ChunkCollector{pieceArray, size, 0, passFullPiece, nullptr}, put, owner};
  run.chunks.owner = &run;
  FormatSink sink;
  beginChunkedRun(&sink, format, args, &run.chunks);
  formatToSink(&sink);
  endFormatRun(&sink);
  if (run.chunks.fill > 0) put(owner, pieceArray, run.chunks.fill);
}

void handOutInPieces(const char* text, unsigned count, uint16_t size, PiecePut put, void* owner) {
  TROVEX_ASSERT(size > 0);  // no piece could ever hold a character: the loop would not end
  for (; count > size; text += size, count -= size) put(owner, text, size);
  if (count > 0) put(owner, text, count);
}

}  // namespace trovex
