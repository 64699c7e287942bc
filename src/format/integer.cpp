// Integer conversions. Not yet laid out: the argument is taken so that later
// arguments stay aligned, and nothing is produced.
#include "format/conversions.h"

namespace {
void takeInteger(FormatSink* sink) {
  if (sink->flags & Int64Arg)
    (void)va_arg(sink->args, long long);
  else
    (void)va_arg(sink->args, int);
}
}  // namespace

void convertSigned(FormatSink* sink, unsigned, bool, char) { takeInteger(sink); }
void convertUnsigned(FormatSink* sink, unsigned, bool, char) { takeInteger(sink); }
