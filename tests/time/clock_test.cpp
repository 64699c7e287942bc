// The local clock: SystemTimeToFileTime's results (the same suite checks the
// POSIX emulation natively and Wine's kernel32 in the Windows build), and
// currentLocalTime against the C library's local time.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "platform/win32.h"
#include "time/time.h"
#if !defined(_WIN32)
#include "platform/posix/sim.h"
#endif

namespace trovex {

namespace {

uint64_t ticksOf(const FILETIME& time) { return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

struct ConversionRow {
  SYSTEMTIME time;  // year, month, weekday, day, hour, minute, second, milliseconds
  BOOL result;
  uint64_t ticks;  // or the last error when the conversion fails
};

TEST(SystemTimeToFileTime, ConvertsValidFieldsAndRejectsOthers) {
  const ConversionRow rows[] = {
      {{1601, 1, 1, 1, 0, 0, 0, 0}, TRUE, 0},
      {{2007, 3, 2, 27, 14, 5, 9, 123}, TRUE, 128194779091230000ull},
      {{2007, 3, 6, 27, 14, 5, 9, 123}, TRUE, 128194779091230000ull},  // the weekday is not read
      {{2000, 2, 2, 29, 23, 59, 59, 999}, TRUE, 125963423999990000ull},
#if !defined(_WIN32)
      // Windows rejects 29 February of a common year too; Wine lets it through.
      {{2001, 2, 4, 29, 0, 0, 0, 0}, FALSE, ERROR_INVALID_PARAMETER},
      {{1900, 2, 4, 29, 0, 0, 0, 0}, FALSE, ERROR_INVALID_PARAMETER},
#endif
      {{2007, 4, 1, 31, 0, 0, 0, 0}, FALSE, ERROR_INVALID_PARAMETER},
      {{2007, 13, 1, 1, 0, 0, 0, 0}, FALSE, ERROR_INVALID_PARAMETER},
      {{2007, 0, 1, 1, 0, 0, 0, 0}, FALSE, ERROR_INVALID_PARAMETER},
      {{2007, 1, 1, 0, 0, 0, 0, 0}, FALSE, ERROR_INVALID_PARAMETER},
      {{2007, 1, 1, 1, 24, 0, 0, 0}, FALSE, ERROR_INVALID_PARAMETER},
      {{2007, 1, 1, 1, 0, 60, 0, 0}, FALSE, ERROR_INVALID_PARAMETER},
      {{2007, 1, 1, 1, 0, 0, 60, 0}, FALSE, ERROR_INVALID_PARAMETER},
      {{2007, 1, 1, 1, 0, 0, 0, 1000}, FALSE, ERROR_INVALID_PARAMETER},
      {{1600, 12, 0, 31, 0, 0, 0, 0}, FALSE, ERROR_INVALID_PARAMETER},
  };
  for (const ConversionRow& row : rows) {
    SCOPED_TRACE(testing::Message() << row.time.wYear << '-' << row.time.wMonth << '-' << row.time.wDay << ' '
                                    << row.time.wHour << ':' << row.time.wMinute << ':' << row.time.wSecond << '.'
                                    << row.time.wMilliseconds);
    FILETIME ticks = {0x1234, 0x5678};
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SystemTimeToFileTime(&row.time, &ticks), row.result);
    if (row.result)
      EXPECT_EQ(ticksOf(ticks), row.ticks);
    else
      EXPECT_EQ(GetLastError(), row.ticks);
  }
}

std::string calendarText(const BrokenDownTime& t) {
  char text[64];
  formatTime(text, sizeof text, "%Y-%m-%d %H:%M:%S %w %j", &t);
  return text;
}

std::string localTimeText(time_t seconds) {
  const struct tm* local = std::localtime(&seconds);
  if (!local) return "none";
  const BrokenDownTime t = {local->tm_sec, local->tm_min,  local->tm_hour, local->tm_mday, local->tm_mon,
                            local->tm_year, local->tm_wday, local->tm_yday, 0};
  return calendarText(t);
}

TEST(CurrentLocalTime, AgreesWithTheCLibrarysLocalTime) {
  const time_t before = std::time(nullptr);
  uint64_t stored = 0;
  const uint64_t ticks = currentLocalTime(&stored);
  const time_t after = std::time(nullptr);
  EXPECT_EQ(stored, ticks);
  EXPECT_GE(currentLocalTime(nullptr), ticks);
  BrokenDownTime time;
  const std::string ours = calendarText(*breakDownTime(&ticks, &time));
  // The C library's seconds may come from a coarser clock that turns over
  // a little later, so the second after the last reading counts too.
  for (time_t second = before; second <= after + 1; ++second)
    if (ours == localTimeText(second)) return;
  FAIL() << ours << " is none of the C library's local times " << localTimeText(before) << " to "
         << localTimeText(after + 1);
}

#if !defined(_WIN32)
class FixedClock : public testing::Test {
 protected:
  void TearDown() override { sim::reset(); }
};

TEST_F(FixedClock, AFailedConversionGivesZero) {
  sim::failCall("SystemTimeToFileTime", 0, 1, ERROR_INVALID_PARAMETER);
  uint64_t stored = 1;
  EXPECT_EQ(currentLocalTime(&stored), 0u);
  EXPECT_EQ(stored, 0u);
}
#endif

}  // namespace

}  // namespace trovex
