// Floating-point conversion. Not yet laid out: the double is taken so that
// later arguments stay aligned, and nothing is produced.
#include "format/conversions.h"

void convertFloat(FormatSink* sink) { (void)va_arg(sink->args, double); }
