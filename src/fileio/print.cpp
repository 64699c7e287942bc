// Formatted printing into a stream: the format engine's characters are
// staged in 256-character pieces, so no character meets a system call alone.
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

void stageChar(FormatSink* sink) {
  Staging* staging = static_cast<Staging*>(sink->state);
  if (staging->fill == StagingSize) {
    writeStream(staging->text, StagingSize, 1, staging->stream);
    staging->total = static_cast<uint16_t>(staging->total + StagingSize);
    staging->fill = 0;
  }
  staging->text[staging->fill++] = sink->ch;
}

}  // namespace

uint16_t vprintStream(Stream* stream, const char* format, va_list* args) {
  Staging staging;
  staging.stream = stream;
  staging.fill = 0;
  staging.total = 0;
  FormatSink sink;
  beginFormatRun(&sink, format, args, stageChar, &staging);
  formatToSink(&sink);
  endFormatRun(&sink);
  if (staging.fill > 0) {
    writeStream(staging.text, staging.fill, 1, stream);
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
