// Formatted printing into a stream: the format engine's characters are
// staged in 256-character pieces, so no character meets a system call alone.
#include <cstring>

#include "fileio/fileio.h"
#include "format/format.h"

namespace {

constexpr uint16_t StagingSize = 256;

struct Staging {
  Stream* stream;
  uint16_t fill;   // characters held in text
  uint16_t total;  // characters passed on so far, modulo 65536
  char text[StagingSize];
};

// Passes a full staging array on to the stream. The characters count as
// produced whether or not the stream takes them, so its count is not needed.
void passOn(Staging* staging) {
  writeStream(staging->text, 1, StagingSize, staging->stream);
  staging->total = static_cast<uint16_t>(staging->total + StagingSize);
  staging->fill = 0;
}

void stageChar(FormatSink* sink) {
  Staging* staging = static_cast<Staging*>(sink->state);
  if (staging->fill == StagingSize) passOn(staging);
  staging->text[staging->fill++] = sink->ch;
}

// A run fills the array as its characters one by one would, only faster.
void stageRun(FormatSink* sink, const char* text, unsigned count) {
  Staging* staging = static_cast<Staging*>(sink->state);
  if (count <= static_cast<unsigned>(StagingSize - staging->fill)) {
    std::memcpy(staging->text + staging->fill, text, count);
    staging->fill = static_cast<uint16_t>(staging->fill + count);
    return;
  }
  while (count > 0) {
    if (staging->fill == StagingSize) passOn(staging);
    const unsigned room = StagingSize - staging->fill;
    const unsigned n = count < room ? count : room;
    std::memcpy(staging->text + staging->fill, text, n);
    staging->fill = static_cast<uint16_t>(staging->fill + n);
    text += n;
    count -= n;
  }
}

}  // namespace

uint16_t vprintStream(Stream* stream, const char* format, va_list* args) {
  Staging staging;
  staging.stream = stream;
  staging.fill = 0;
  staging.total = 0;
  FormatSink sink;
  beginFormatRun(&sink, format, args, stageChar, &staging);
  sink.putRun = stageRun;
  formatToSink(&sink);
  endFormatRun(&sink);
  if (staging.fill > 0) {
    writeStream(staging.text, 1, staging.fill, stream);
    staging.total = static_cast<uint16_t>(staging.total + staging.fill);
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
