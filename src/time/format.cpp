// Date formatting: a time format expanded for a BrokenDownTime into a buffer
// of fixed size. Every produced character counts; those past the buffer are
// dropped, and a cut text still ends in a NUL.
#include <cstring>

#include "time/names.h"
#include "time/time.h"

namespace trovex {

namespace {

// The fixed expansions of the composite conversions.
constexpr char DateFormat[] = "%m/%d/%y";                    // c, D
constexpr char DateAndTimeFormat[] = "%m/%d/%y %H:%M:%S";    // x
constexpr char LongDateFormat[] = "%a %b %e %H:%M:%S %Y";    // C
constexpr char TwelveHourFormat[] = "%I:%M:%S %p";           // r
constexpr char HourMinuteFormat[] = "%H:%M";                 // R
constexpr char TimeOfDayFormat[] = "%H:%M:%S";               // T, X

struct TimeOutput {
  char* buffer;
  size_t size;   // bytes of buffer
  size_t count;  // characters produced so far, held at size once the buffer is full
};

inline void put(TimeOutput* out, char c) {
  if (out->count < out->size) out->buffer[out->count++] = c;
}

void putText(TimeOutput* out, const char* text) {
  const size_t length = std::strlen(text);
  const size_t room = out->size - out->count;
  const size_t stored = length < room ? length : room;
  if (stored == 0) return;
  std::memcpy(out->buffer + out->count, text, stored);
  out->count += stored;
}

// Names hold no "%", so a name's expansion is the name itself. An index out
// of the table (a time record not made by breakDownTime) gives no text.
void putName(TimeOutput* out, const char* const* names, int32_t count, int32_t index) {
  if (index >= 0 && index < count && names[index]) putText(out, names[index]);
}

// Decimal, at least `width` characters: `pad` '0' fills between a sign and
// the digits, ' ' before both.
void putNumber(TimeOutput* out, int64_t value, unsigned width, char pad) {
  char digits[20];
  char* const end = digits + sizeof digits;
  char* p = end;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const unsigned length = static_cast<unsigned>(end - p) + (value < 0 ? 1 : 0);
  unsigned fill = width > length ? width - length : 0;
  if (pad == ' ')
    for (; fill > 0; --fill) put(out, ' ');
  if (value < 0) put(out, '-');
  for (; fill > 0; --fill) put(out, '0');
  for (; p < end; ++p) put(out, *p);
}

int64_t twelveHour(const BrokenDownTime& time) {
  const int64_t hour = time.hour % 12;
  return hour == 0 ? 12 : hour;
}

void expand(TimeOutput* out, const char* format, const BrokenDownTime& time, const TimeNames& names) {
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      put(out, *p);
      continue;
    }
    ++p;
    switch (*p) {
      case '\0': return;  // a "%" at the end produces nothing
      case 'a': putName(out, names.shortWeekDays, 7, time.weekDay); break;
      case 'A': putName(out, names.weekDays, 7, time.weekDay); break;
      case 'b': case 'h': putName(out, names.shortMonths, 12, time.month); break;
      case 'B': putName(out, names.months, 12, time.month); break;
      case 'c': case 'D': expand(out, DateFormat, time, names); break;
      case 'C': expand(out, LongDateFormat, time, names); break;
      case 'd': putNumber(out, time.monthDay, 2, '0'); break;
      case 'e': putNumber(out, time.monthDay, 2, ' '); break;
      case 'H': putNumber(out, time.hour, 2, '0'); break;
      case 'I': putNumber(out, twelveHour(time), 2, '0'); break;
      case 'j': putNumber(out, int64_t{time.yearDay} + 1, 3, '0'); break;
      case 'k': putNumber(out, time.hour, 2, ' '); break;
      case 'l': putNumber(out, twelveHour(time), 2, ' '); break;
      case 'm': putNumber(out, int64_t{time.month} + 1, 2, '0'); break;
      case 'M': putNumber(out, time.minute, 2, '0'); break;
      case 'n': put(out, '\n'); break;
      case 'p': putText(out, time.hour <= 11 ? names.morning : names.afternoon); break;
      case 'r': expand(out, TwelveHourFormat, time, names); break;
      case 'R': expand(out, HourMinuteFormat, time, names); break;
      case 'S': putNumber(out, time.second, 2, '0'); break;
      case 't': put(out, '\t'); break;
      case 'T': case 'X': expand(out, TimeOfDayFormat, time, names); break;
      case 'U': putNumber(out, (int64_t{time.yearDay} + 7 - time.weekDay) / 7, 2, '0'); break;
      case 'w': putNumber(out, time.weekDay, 1, '0'); break;
      case 'W': putNumber(out, (int64_t{time.yearDay} + 7 - (int64_t{time.weekDay} + 6) % 7) / 7, 2, '0'); break;
      case 'x': expand(out, DateAndTimeFormat, time, names); break;
      case 'y': putNumber(out, time.yearsSince1900 % 100, 2, '0'); break;
      case 'Y': putNumber(out, int64_t{time.yearsSince1900} + 1900, 4, '0'); break;
      case '%': put(out, '%'); break;
      default: break;  // any other character: it and its "%" are dropped
    }
  }
}

}  // namespace

size_t formatTime(char* buffer, size_t size, const char* format, const BrokenDownTime* time) {
  if (!buffer) size = 0;
  TimeOutput out{buffer, size, 0};
  if (format && time) expand(&out, format, *time, germanTimeNames);
  // The NUL is one more character: the text counts as whole only if it fits too.
  if (out.count < size) {
    buffer[out.count] = '\0';
    return out.count;
  }
  if (size > 0) buffer[size - 1] = '\0';
  return 0;
}

}  // namespace trovex
