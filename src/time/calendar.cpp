// The calendar fields of a tick count: whole seconds since 1970 in 32 bits,
// then days in 400-year cycles, centuries, four-year blocks and years of the
// proleptic Gregorian calendar, with integer arithmetic only.
#include "time/time.h"

namespace trovex {

namespace {

// Adding this to a count of seconds since 1601 modulo 2^32 subtracts the
// 11,644,473,600 seconds from 1601-01-01 to 1970-01-01.
constexpr uint32_t SecondsFrom1601To1970Wrapped = 1240428288u;
constexpr uint32_t DaysFrom0001To1970 = 719162;  // 0001-01-01 was a Monday

constexpr uint32_t DaysPer400Years = 146097;
constexpr uint32_t DaysPerCentury = 36524;  // a century whose last year is common
constexpr uint32_t DaysPer4Years = 1461;
constexpr uint32_t DaysPerYear = 365;
// Day indexes from which the last year of a period runs.
constexpr uint32_t LastYearOf400 = 145731;
constexpr uint32_t LastYearOfCentury = 36159;
constexpr uint32_t LastYearOf4 = 1095;

// January to November; February with its 29th, which common years skip.
// December takes whatever remains.
constexpr uint32_t monthLengths[11] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30};
constexpr uint32_t LastDayOfFebruary = 58;  // day of the year of 28 February

}  // namespace

BrokenDownTime* breakDownTime(const uint64_t* ticks, BrokenDownTime* time) {
  uint32_t t = static_cast<uint32_t>(*ticks / TicksPerSecond) + SecondsFrom1601To1970Wrapped;
  time->second = static_cast<int32_t>(t % 60);
  t /= 60;
  time->minute = static_cast<int32_t>(t % 60);
  t /= 60;
  time->hour = static_cast<int32_t>(t % 24);
  const uint32_t day = t / 24 + DaysFrom0001To1970;
  time->weekDay = static_cast<int32_t>((day + 1) % 7);

  // `leap` ends nonzero exactly in leap years: +1 in a cycle's 400th year,
  // -1 in a century's 100th, +1 in a block's 4th. The last day of a leap year
  // (day 366) is clamped into its year and added back through `extra`.
  const uint32_t cycles = day / DaysPer400Years;
  int32_t year = static_cast<int32_t>(400 * cycles) - 1899;
  uint32_t rest = day % DaysPer400Years;
  int32_t leap = 0;
  uint32_t extra = 0;
  if (rest >= LastYearOf400) {
    ++leap;
    if (rest == DaysPer400Years - 1) {
      rest = DaysPer400Years - 2;
      extra = 1;
    }
  }
  const uint32_t centuries = rest / DaysPerCentury;
  year += static_cast<int32_t>(100 * centuries);
  rest -= DaysPerCentury * centuries;
  if (rest >= LastYearOfCentury) --leap;
  const uint32_t blocks = rest / DaysPer4Years;
  year += static_cast<int32_t>(4 * blocks);
  rest -= DaysPer4Years * blocks;
  if (rest >= LastYearOf4) {
    ++leap;
    if (rest == DaysPer4Years - 1) {
      rest = DaysPer4Years - 2;
      ++extra;
    }
  }
  year += static_cast<int32_t>(rest / DaysPerYear);
  const uint32_t yearDay = rest % DaysPerYear + extra;
  time->yearsSince1900 = year;
  time->yearDay = static_cast<int32_t>(yearDay);

  uint32_t x = yearDay;
  if (leap == 0 && x > LastDayOfFebruary) ++x;
  int32_t month = 0;
  while (month < 11 && x >= monthLengths[month]) x -= monthLengths[month++];
  time->month = month;
  time->monthDay = static_cast<int32_t>(x + 1);
  time->reserved = 0;
  return time;
}

}  // namespace trovex
