// A run of the engine, from its start to its end.
#include "format/steps.h"

namespace trovex {

namespace {
va_list unreadList;
}  // namespace
va_list* const ZeroArgs = &unreadList;

void formatToSink(FormatSink* sink) {
  runFormatWith(sink, [](FormatSink* run, const FormatStep* step) __attribute__((always_inline)) { runDirective(run, step); });
}

void beginFormatRun(FormatSink* sink, const char* format, va_list* args, FormatPut put, void* state) {
  // Field by field: clearing the record as a whole compiles to a block
  // store whose start-up costs more than a short message.
  sink->format = format ? format : "";
  sink->width = 0;
  sink->precision = 0;
  sink->ch = 0;
  sink->flags = 0;
  sink->put = put;
  sink->putRun = nullptr;
  sink->window = nullptr;
  sink->cursor = nullptr;
  sink->windowEnd = nullptr;
  sink->state = state;
  sink->verbatim = !args;
  sink->zeroArgs = args == ZeroArgs;
  if (args && !sink->zeroArgs) va_copy(sink->args, *args);
}

void endFormatRun(FormatSink* sink) {
  if (!sink->verbatim && !sink->zeroArgs) va_end(sink->args);
}

}  // namespace trovex
