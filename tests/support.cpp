#include "support.h"

namespace {
void appendToString(FormatSink* sink) { static_cast<std::string*>(sink->state)->push_back(sink->ch); }
}  // namespace

std::string vformatted(const char* format, va_list args) {
  std::string out;
  va_list copy;
  va_copy(copy, args);
  FormatSink sink;
  beginFormatRun(&sink, format, &copy, appendToString, &out);
  formatToSink(&sink);
  endFormatRun(&sink);
  va_end(copy);
  return out;
}

std::string formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = vformatted(format, args);
  va_end(args);
  return out;
}
