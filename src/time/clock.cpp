// The local wall clock as a tick count.
#include "platform/win32.h"
#include "time/time.h"

namespace trovex {

uint64_t currentLocalTime(uint64_t* out) {
  SYSTEMTIME local;
  GetLocalTime(&local);
  // A failed conversion leaves the zeros rather than stack contents.
  FILETIME ticks = {0, 0};
  SystemTimeToFileTime(&local, &ticks);
  const uint64_t count = (uint64_t{ticks.dwHighDateTime} << 32) | ticks.dwLowDateTime;
  if (out) *out = count;
  return count;
}

size_t formatLocalTimeNow(char* buffer, size_t size, const char* format) {
  const uint64_t ticks = currentLocalTime(nullptr);
  BrokenDownTime time;
  return formatTime(buffer, size, format, breakDownTime(&ticks, &time));
}

}  // namespace trovex
