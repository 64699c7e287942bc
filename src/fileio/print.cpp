// Formatted printing into a stream: the format engine's characters are
// staged in 256-character pieces, so no character meets a system call alone.
#include "fileio/fileio.h"
#include "format/format.h"

namespace trovex {

namespace {

// Characters gathered before one writeStream call: a speed choice that
// changes no output, since the stream buffers anyway.
constexpr uint16_t StagingSize = 256;

struct Staging {
  Stream* stream;
  uint16_t total;  // characters passed on so far, modulo 65536
};

// The characters count as produced whether or not the stream takes them, so
// its count is not needed.
void passOn(void* owner, const char* text, unsigned count) {
  Staging* staging = static_cast<Staging*>(owner);
  writeStream(text, 1, count, staging->stream);
  staging->total = static_cast<uint16_t>(staging->total + count);
}

}  // namespace

uint16_t vprintStream(Stream* stream, const char* format, va_list* args) {
  Staging staging{stream, 0};
  char piece[StagingSize];
  formatInPieces(format, args, piece, StagingSize, passOn, &staging);
  return staging.total;
}

uint16_t printStream(Stream* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const uint16_t produced = vprintStream(stream, format, &args);
  va_end(args);
  return produced;
}

}  // namespace trovex
