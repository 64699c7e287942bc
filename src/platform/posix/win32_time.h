// Local time and its conversion to the FILETIME scale.
#pragma once

#include "platform/posix/win32_file.h"

namespace trovex::win32 {

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;      // 1 = January
  WORD wDayOfWeek;  // 0 = Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;

// The running system's local wall-clock time (its time zone and daylight
// saving applied), to the millisecond. Tests may fix it (sim.h).
void WINAPI GetLocalTime(LPSYSTEMTIME time);
// The calendar time as 100-nanosecond intervals since 1601-01-01 of the same
// time scale. Fails with ERROR_INVALID_PARAMETER when a field is out of its
// range (a day past its month's end included) or the year is before 1601;
// wDayOfWeek is not read.
BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* time, LPFILETIME fileTime);
// Milliseconds since an arbitrary start, from the monotonic clock; wraps
// after about 49.7 days, as on Windows. Callers compare differences.
DWORD WINAPI GetTickCount(void);
// Suspends the calling thread for at least `milliseconds`.
void WINAPI Sleep(DWORD milliseconds);

}  // namespace trovex::win32
