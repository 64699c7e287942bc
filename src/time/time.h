// Time and calendar: the local wall clock as one 64-bit tick count, its
// calendar fields, and German date texts. Pure arithmetic and formatting on
// storage the caller owns: nothing here keeps state, takes a lock or
// allocates, so any thread may convert and format at any time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trovex {

// 100-nanosecond intervals in one second, the unit of a tick count.
constexpr uint64_t TicksPerSecond = 10000000;

// Local calendar time. The fields, their order and their 32-bit size are
// fixed; the ranges are those breakDownTime produces.
struct BrokenDownTime {
  int32_t second;          // 0-59
  int32_t minute;          // 0-59
  int32_t hour;            // 0-23
  int32_t monthDay;        // 1-31
  int32_t month;           // 0-11, 0 = January
  int32_t yearsSince1900;  // 70-206
  int32_t weekDay;         // 0-6, 0 = Sunday
  int32_t yearDay;         // 0-365, 0 = 1 January
  int32_t reserved;        // always 0
};
static_assert(sizeof(BrokenDownTime) == 9 * sizeof(int32_t), "nine 32-bit fields, no padding");

// Reads the local date and time (GetLocalTime, SystemTimeToFileTime) and
// returns it as a tick count: 100-nanosecond intervals since 1601-01-01
// 00:00:00 local time, the FILETIME scale. Stores the count in *out as well
// when out is not null. Should the conversion fail, the count is 0.
uint64_t currentLocalTime(uint64_t* out);

// Splits the tick count *ticks into calendar fields in *time and returns time.
// Only whole seconds count, and only the low 32 bits of the seconds since
// 1970-01-01: the span is 1970-01-01 00:00:00 to 2106-02-07 06:28:15, and
// counts outside it wrap around into it. The calendar is the proleptic
// Gregorian one with no time zone: the count already holds local time.
// Never fails; both pointers must be valid.
BrokenDownTime* breakDownTime(const uint64_t* ticks, BrokenDownTime* time);

// Expands the time format `format` for *time into buffer, which holds `size`
// bytes, and ends the text with a NUL. Conversions are "%" and a letter:
//   a A    short ("Din") and full ("Dienstag") German weekday name
//   b h B  short ("M\xE4r") and full ("M\xE4rz") German month name (Windows-1252)
//   d e    day of the month, "05" and " 5";   j  day of the year, "001"-"366"
//   H k    hour 00-23, "07" and " 7";         I l  hour 01-12, "07" and " 7"
//   m M S  month, minute, second, two digits; y Y  year as "07" and "2007"
//   p      "AM" up to hour 11, else "PM";     w  weekday digit, 0 = Sunday
//   U W    week of the year, weeks starting on Sunday and on Monday, "00"-"53"
//   n t %  newline, tab, "%"
//   c D    "%m/%d/%y";  x  "%m/%d/%y %H:%M:%S";  C  "%a %b %e %H:%M:%S %Y"
//   r      "%I:%M:%S %p";  R  "%H:%M";  T X  "%H:%M:%S"
// Any other character after "%", and a "%" at the end, produce nothing.
//
// Returns the length of the text when the text and its NUL fit in size bytes.
// Otherwise returns 0 and the buffer holds the text's first size - 1
// characters and a NUL; with size 0 nothing is written. So 0 means an empty
// or a cut text. A null buffer counts as size 0, a null format as empty, and
// a null time gives an empty text. Fields out of their ranges never make it
// read or write out of bounds: a name out of range is left out and numbers
// print in full.
size_t formatTime(char* buffer, size_t size, const char* format, const BrokenDownTime* time);

// The local date and time now, expanded with formatTime into buffer; its
// result. The time stamp and the protocol file's cut marker both print it.
size_t formatLocalTimeNow(char* buffer, size_t size, const char* format);

}  // namespace trovex
