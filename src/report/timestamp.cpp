// The time stamp: the local date and time as a message of its own, which the
// next message continues unless the time format ends the line.
#include <cstring>

#include "common/texts.h"
#include "dispatch/emit.h"
#include "report/report.h"
#include "time/time.h"

namespace trovex {

int printTimeStamp(OutputContext* context, const char* typeLetters, const char* id, const char* format) {
  if (!format) format = DefaultTimeFormat;
  char text[TimeTextSize];
  formatLocalTimeNow(text, sizeof text, format);  // a cut text is used as it is

  const size_t length = std::strlen(format);
  // Delivered verbatim, a "%" included. Unless the format ends the line, the
  // next message continues it (emission decides that only for a stamp that
  // passed the filter).
  emitLibraryText(context, typeLetters, id, text, length > 0 && format[length - 1] != '\n');
  return static_cast<int>(length);
}

}  // namespace trovex
