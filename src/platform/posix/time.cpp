// Local time from the POSIX clock and calendar fields as a tick count.
#include <cerrno>
#include <ctime>

#include "platform/posix/handles.h"

namespace trovex::win32 {

namespace {

constexpr uint64_t TicksPerMillisecond = 10000;
constexpr uint64_t TicksPerDay = 864000000000ull;
constexpr int64_t DaysFrom1601To1970 = 134774;

constexpr unsigned monthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool isLeapYear(unsigned year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

unsigned daysInMonth(unsigned year, unsigned month) {
  return month == 2 && isLeapYear(year) ? 29 : monthLengths[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar,
// counting years from March so that the leap day ends a year.
int64_t daysSince1970(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
  if (simFixedLocalTime(time)) return;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  // A leap second shows as the 59th, as Windows never has a 60th.
  time->wSecond = static_cast<WORD>(local.tm_sec < 60 ? local.tm_sec : 59);
  time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

DWORD WINAPI GetTickCount(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t milliseconds = uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
  return static_cast<DWORD>(milliseconds + simTickOffset());
}

void WINAPI Sleep(DWORD milliseconds) {
  struct timespec pause{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* time, LPFILETIME fileTime) {
  if (simShouldFail("SystemTimeToFileTime")) return FALSE;
  if (time->wYear < 1601 || time->wYear > 30827 || time->wMonth < 1 || time->wMonth > 12 || time->wDay < 1 ||
      time->wDay > daysInMonth(time->wYear, time->wMonth) || time->wHour > 23 || time->wMinute > 59 ||
      time->wSecond > 59 || time->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uint64_t days = static_cast<uint64_t>(daysSince1970(time->wYear, time->wMonth, time->wDay) + DaysFrom1601To1970);
  const uint64_t milliseconds =
      ((time->wHour * 60u + time->wMinute) * 60u + time->wSecond) * 1000u + time->wMilliseconds;
  const uint64_t ticks = days * TicksPerDay + milliseconds * TicksPerMillisecond;
  fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return TRUE;
}

}  // namespace trovex::win32
