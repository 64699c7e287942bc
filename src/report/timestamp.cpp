// The time stamp: the local date and time as a message of its own, which the
// next message continues unless the time format ends the line.
#include <cstring>

#include "common/texts.h"
#include "dispatch/emit.h"
#include "dispatch/filter.h"
#include "report/report.h"
#include "time/time.h"

namespace {

// Fixed: the expansion is cut to 127 characters and a NUL.
constexpr size_t TimeTextSize = 128;

}  // namespace

int printTimeStamp(OutputContext* context, const char* typeLetters, const char* id, const char* format) {
  if (!format) format = DefaultTimeFormat;
  uint64_t ticks = 0;
  currentLocalTime(&ticks);
  BrokenDownTime time;
  breakDownTime(&ticks, &time);
  char text[TimeTextSize];
  text[0] = '\0';
  formatTime(text, sizeof text, format, &time);  // a cut text is used as it is

  // One hold of the mutex around the text and the flag, so that no other
  // thread's message comes between them and takes the continuation; the
  // emission takes the (recursive) mutex again inside.
  if (context->mutex) WaitForSingleObject(context->mutex, INFINITE);
  const bool passes = categoryPasses(&messageFilter, typeLetters) && idPasses(&messageFilter, id);
  // No argument list: the time text is delivered verbatim, a "%" included.
  emitMessage(context, typeLetters, id, text, nullptr, true);
  const size_t length = std::strlen(format);
  // A stamp the filter stopped continues nothing: the next message keeps its header.
  if (passes && length > 0 && format[length - 1] != '\n') context->continuation = 1;
  if (context->mutex) ReleaseMutex(context->mutex);
  return static_cast<int>(length);
}
