// File streams. Not built yet: there are no streams, so nothing is ever
// printed into one and the standard streams stay empty.
#include "fileio/fileio.h"

int openStandardStreams() { return 0; }
void closeStandardStreams() {}

uint16_t vprintStream(Stream*, const char*, va_list*) { return 0; }

uint16_t printStream(Stream* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const uint16_t produced = vprintStream(stream, format, &args);
  va_end(args);
  return produced;
}

int closeStream(Stream*) { return 0; }
