// breakDownTime against the C library's UTC calendar: a tick count holds local
// time, so its fields must be the UTC fields of the same count of seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <random>

#include "time/time.h"

namespace trovex {

namespace {

constexpr uint64_t SecondsFrom1601To1970 = 11644473600ull;
constexpr int64_t SecondsPerDay = 86400;
constexpr int64_t LastSecond = 0xFFFFFFFFll;  // 2106-02-07 06:28:15

uint64_t ticksAt(int64_t secondsSince1970, uint64_t fraction = 0) {
  return static_cast<uint64_t>(secondsSince1970 + static_cast<int64_t>(SecondsFrom1601To1970)) * TicksPerSecond +
         fraction;
}

using Fields = std::array<int32_t, 9>;

Fields fieldsOf(const BrokenDownTime& t) {
  return {t.second, t.minute, t.hour, t.monthDay, t.month, t.yearsSince1900, t.weekDay, t.yearDay, t.reserved};
}

Fields utcFields(int64_t secondsSince1970) {
  struct tm utc {};
#if defined(_WIN32)
  // time_t has 32 bits here; the span runs to 2106.
  const __time64_t seconds = secondsSince1970;
  _gmtime64_s(&utc, &seconds);
#else
  static_assert(sizeof(time_t) == 8, "the span runs to 2106");
  const time_t seconds = static_cast<time_t>(secondsSince1970);
  gmtime_r(&seconds, &utc);
#endif
  return {utc.tm_sec, utc.tm_min, utc.tm_hour, utc.tm_mday, utc.tm_mon, utc.tm_year, utc.tm_wday, utc.tm_yday, 0};
}

// Checks one count; stops the caller's loop at the first difference.
bool agrees(uint64_t ticks, int64_t expectedSeconds) {
  BrokenDownTime time;
  EXPECT_EQ(breakDownTime(&ticks, &time), &time);
  const Fields ours = fieldsOf(time);
  const Fields theirs = utcFields(expectedSeconds);
  if (ours == theirs) return true;
  ADD_FAILURE() << "ticks " << ticks << " (seconds since 1970: " << expectedSeconds << "): year "
                << ours[5] << " month " << ours[4] << " day " << ours[3] << " yday " << ours[7] << ", the C library: year "
                << theirs[5] << " month " << theirs[4] << " day " << theirs[3] << " yday " << theirs[7];
  return false;
}

// Three times of every day of the span, the first and the last second
// included, one of them with the largest fraction of a second.
TEST(BreakDownTime, EveryDayAgreesWithTheCLibrary) {
  for (int64_t day = 0; day * SecondsPerDay <= LastSecond; ++day) {
    const int64_t start = day * SecondsPerDay;
    const int64_t within = start + (day * 7919) % SecondsPerDay;
    const int64_t end = std::min(start + SecondsPerDay - 1, LastSecond);
    if (!agrees(ticksAt(start), start) || !agrees(ticksAt(within, TicksPerSecond - 1), within) ||
        !agrees(ticksAt(end), end))
      return;
  }
}

// Counts anywhere in 64 bits: only the low 32 bits of the seconds since 1970 count.
TEST(BreakDownTime, AnyCountWrapsIntoTheSpan) {
  std::mt19937_64 random(20070327);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t ticks = random();
    const uint32_t wrapped = static_cast<uint32_t>(ticks / TicksPerSecond - SecondsFrom1601To1970);
    if (!agrees(ticks, wrapped)) return;
  }
}

TEST(BreakDownTime, BothWrapPointsLandAtTheOtherEnd) {
  BrokenDownTime time;
  const uint64_t beforeSpan = ticksAt(-1);  // 1969-12-31 23:59:59
  breakDownTime(&beforeSpan, &time);
  EXPECT_EQ(fieldsOf(time), (Fields{15, 28, 6, 7, 1, 206, 0, 37, 0}));  // 2106-02-07 06:28:15, a Sunday
  const uint64_t afterSpan = ticksAt(LastSecond + 1, TicksPerSecond - 1);
  breakDownTime(&afterSpan, &time);
  EXPECT_EQ(fieldsOf(time), (Fields{0, 0, 0, 1, 0, 70, 4, 0, 0}));  // 1970-01-01 00:00:00, a Thursday
}

}  // namespace

}  // namespace trovex
