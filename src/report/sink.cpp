// The report's pieces on their way to a ReportSink: each piece is one
// message, with a copy of its own of the arguments.
#include "report/sections.h"

namespace trovex {

namespace {

void emitPiece(const ReportSink* sink, bool keepOpen, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  sink->emit(sink->state, keepOpen, format, &copy);
  va_end(copy);
}

}  // namespace

void reportPrint(const ReportSink* sink, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emitPiece(sink, true, format, args);
  va_end(args);
}

void reportPrintAndClose(const ReportSink* sink, const char* format, ...) {
  va_list args;
  va_start(args, format);
  emitPiece(sink, false, format, args);
  va_end(args);
}

}  // namespace trovex
