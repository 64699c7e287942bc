// The local clock: SystemTimeToFileTime's results (the same suite checks the
// POSIX emulation natively and Wine's kernel32 in the Windows build), and
// currentLocalTime against the C library's local time.
#include <gtest/gtest.h>

#include <ctime>

#include "platform/win32.h"
#include "time/time.h"
#if !defined(_WIN32)
#include "platform/posix/sim.h"
#endif

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

TEST(CurrentLocalTime, AgreesWithTheCLibrarysLocalTime) {
  // Retried when the second turns over between the two readings.
  for (int attempt = 0; attempt < 10; ++attempt) {
    const time_t before = std::time(nullptr);
    uint64_t stored = 0;
    const uint64_t ticks = currentLocalTime(&stored);
    if (std::time(nullptr) != before) continue;
    EXPECT_EQ(stored, ticks);
    BrokenDownTime ours;
    breakDownTime(&ticks, &ours);
    const struct tm* theirs = std::localtime(&before);
    ASSERT_NE(theirs, nullptr);
    EXPECT_EQ(ours.yearsSince1900, theirs->tm_year);
    EXPECT_EQ(ours.month, theirs->tm_mon);
    EXPECT_EQ(ours.monthDay, theirs->tm_mday);
    EXPECT_EQ(ours.hour, theirs->tm_hour);
    EXPECT_EQ(ours.minute, theirs->tm_min);
    EXPECT_EQ(ours.second, theirs->tm_sec);
    EXPECT_EQ(ours.weekDay, theirs->tm_wday);
    EXPECT_EQ(ours.yearDay, theirs->tm_yday);
    EXPECT_GE(currentLocalTime(nullptr), ticks);
    return;
  }
  FAIL() << "the second turned over at every attempt";
}

#if !defined(_WIN32)
class FixedClock : public testing::Test {
 protected:
  void TearDown() override { sim::reset(); }
};

TEST_F(FixedClock, GivesTheTimeStampOfThatTime) {
  const SYSTEMTIME fixed = {2007, 3, 2, 27, 14, 5, 9, 999};
  sim::fixLocalTime(&fixed);
  uint64_t ticks = currentLocalTime(nullptr);
  EXPECT_EQ(ticks, 128194779099990000ull);
  BrokenDownTime time;
  char text[128];
  EXPECT_EQ(formatTime(text, sizeof text, "%A %d-%b-%Y %T", breakDownTime(&ticks, &time)), 29u);
  EXPECT_STREQ(text, "Dienstag 27-M\xE4r-2007 14:05:09");
}

TEST_F(FixedClock, AFailedConversionGivesZero) {
  sim::failCall("SystemTimeToFileTime", 0, 1, ERROR_INVALID_PARAMETER);
  uint64_t stored = 1;
  EXPECT_EQ(currentLocalTime(&stored), 0u);
  EXPECT_EQ(stored, 0u);
}
#endif

}  // namespace
