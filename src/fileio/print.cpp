// Formatted printing into a stream: the format engine's characters are
// staged in 256-character pieces, so no character meets a system call alone.
#include "fileio/fileio.h"
#include "format/format.h"

namespace {

// Characters gathered before one writeStream call: a speed choice that
// changes no output, since the stream buffers anyway.
constexpr uint16_t StagingSize = 256;

struct Staging {
  ChunkCollector chunks;  // owned by this record
  Stream* stream;
  uint16_t total;         // characters passed on so far, modulo 65536
  char text[StagingSize];
};

// Passes a full staging array on to the stream. The characters count as
// produced whether or not the stream takes them, so its count is not needed.
void passOn(ChunkCollector* chunks) {
  Staging* staging = static_cast<Staging*>(chunks->owner);
  writeStream(staging->text, 1, StagingSize, staging->stream);
  staging->total = static_cast<uint16_t>(staging->total + StagingSize);
}

}  // namespace

uint16_t vprintStream(Stream* stream, const char* format, va_list* args) {
  Staging staging;
  staging.chunks = ChunkCollector{staging.text, StagingSize, 0, passOn, &staging};
  staging.stream = stream;
  staging.total = 0;
  FormatSink sink;
  beginChunkedRun(&sink, format, args, &staging.chunks);
  formatToSink(&sink);
  endFormatRun(&sink);
  if (staging.chunks.fill > 0) {
    writeStream(staging.text, 1, staging.chunks.fill, stream);
    staging.total = static_cast<uint16_t>(staging.total + staging.chunks.fill);
  }
  return staging.total;
}

uint16_t printStream(Stream* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const uint16_t produced = vprintStream(stream, format, &args);
  va_end(args);
  return produced;
}
