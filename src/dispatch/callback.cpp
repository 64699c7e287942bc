// The host's callback as a destination: the header call, the text in chunks
// of at most 96 bytes, the end call.
#include "dispatch/callback.h"

#include "format/format.h"

namespace {

// Hosts are promised data calls of at most 96 bytes, and a body of exactly 96
// characters as one call: fixed by the callback contract, not tunable.
constexpr unsigned ChunkSize = 96;

struct CallbackChunk {
  ChunkCollector chunks;     // owned by this record; holds `fill`
  MessageCallback callback;  // the message's callback, read once by emission
  char text[ChunkSize];      // characters produced and not yet delivered
};

// A full chunk goes out only when the 97th character arrives, so a body of
// exactly 96 characters is one data call.
void deliverFullChunk(ChunkCollector* chunks) {
  const CallbackChunk* chunk = static_cast<const CallbackChunk*>(chunks->owner);
  chunk->callback(nullptr, nullptr, chunk->text, ChunkSize);
}

void deliverFormatted(MessageCallback callback, const char* format, va_list* args) {
  CallbackChunk chunk;
  chunk.chunks = ChunkCollector{chunk.text, ChunkSize, 0, deliverFullChunk, &chunk};
  chunk.callback = callback;
  FormatSink sink;
  beginChunkedRun(&sink, format, args, &chunk.chunks);
  formatToSink(&sink);
  endFormatRun(&sink);
  if (chunk.chunks.fill > 0) callback(nullptr, nullptr, chunk.text, chunk.chunks.fill);
}

// Text already produced, in the chunks the collector would cut: a full chunk
// is called only when more follows.
void deliverProduced(MessageCallback callback, const char* text, unsigned count) {
  for (; count > ChunkSize; text += ChunkSize, count -= ChunkSize) callback(nullptr, nullptr, text, ChunkSize);
  if (count > 0) callback(nullptr, nullptr, text, static_cast<int>(count));
}

}  // namespace

void deliverToCallback(MessageCallback callback, const char* label, const char* id, const MessageText& body) {
  // An empty label or id counts as none.
  if (label && !*label) label = nullptr;
  if (id && !*id) id = nullptr;
  if (label || id) callback(label, id, nullptr, 0);
  if (body.text) deliverProduced(callback, body.text, body.length);
  else deliverFormatted(callback, body.format, body.args);
  callback(nullptr, nullptr, nullptr, 0);
}
