// Integer conversions: 32-bit or 64-bit arguments as digits of radix 8, 10 or
// 16, laid out with sign, fill, grouping of thousands and a precision that
// caps fill and digits together.
#include <cstring>

#include "format/conversions.h"
#include "format/numbers.h"

namespace {

// 22 octal digits of a 64-bit value are the most any value needs.
constexpr unsigned DigitBufferSize = 24;
// Those digits with a separator after every third: 22 + 7.
constexpr unsigned GroupedBufferSize = 32;

// Two decimal digits per division halves the divisions of the common radix.
struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs digitPairs;

inline char* prependPair(char* p, unsigned below100) {
  const char* pair = digitPairs.text + 2 * below100;
  *--p = pair[1];
  *--p = pair[0];
  return p;
}

// Writes the decimal digits of value backwards from end; returns the first.
char* decimalDigits32(uint32_t value, char* end) {
  char* p = end;
  for (; value >= 100; value /= 100) p = prependPair(p, value % 100);
  if (value >= 10) return prependPair(p, value);
  *--p = static_cast<char>('0' + value);
  return p;
}

// A 32-bit target has no 64-bit division instruction: nine digits at a time
// (leading zeros included) come from one 64-bit division, the rest from
// 32-bit arithmetic.
char* decimalDigits64(uint64_t value, char* end) {
  char* p = end;
  while (value > 0xFFFFFFFFu) {
    const uint64_t high = value / 1000000000u;
    uint32_t low = static_cast<uint32_t>(value - high * 1000000000u);
    for (int i = 0; i < 4; ++i, low /= 100) p = prependPair(p, low % 100);
    *--p = static_cast<char>('0' + low);
    value = high;
  }
  return decimalDigits32(static_cast<uint32_t>(value), p);
}

// Radix 8 and 16 take bits from the low end; table is one half of digitTable.
template <typename Unsigned>
char* binaryDigits(Unsigned value, unsigned bits, const char* table, char* end) {
  const unsigned mask = (1u << bits) - 1;
  char* p = end;
  do {
    *--p = table[value & mask];
    value >>= bits;
  } while (value != 0);
  return p;
}

template <typename Unsigned>
void convertMagnitude(FormatSink* sink, Unsigned value, bool negative, unsigned radix, bool upperCase,
                      char groupSeparator) {
  char buffer[DigitBufferSize];
  char* const end = buffer + DigitBufferSize;
  const char* table = upperCase ? digitTable + 16 : digitTable;
  char* first;
  if (radix == 16)
    first = binaryDigits(value, 4, table, end);
  else if (radix == 8)
    first = binaryDigits(value, 3, table, end);
  else if (sizeof(Unsigned) > 4)
    first = decimalDigits64(value, end);
  else
    first = decimalDigits32(static_cast<uint32_t>(value), end);
  emitDigits(sink, first, static_cast<unsigned>(end - first), negative, groupSeparator);
}

}  // namespace

void emitDigits(FormatSink* sink, const char* digits, unsigned count, bool negative, char groupSeparator) {
  unsigned length = count;
  if (groupSeparator != 0 && count > 3)
    length += (count - 1) / 3;
  else
    groupSeparator = 0;

  unsigned budget = sink->precision;  // NoPrecision is the budget 65535
  unsigned width = sink->width < budget ? sink->width : budget;
  if (!(sink->flags & LeftAlign) && width > length + (negative ? 1u : 0u)) {
    // The sign stands before the fill, whether the fill is zeros or spaces.
    if (negative) {
      emitChar(sink, '-');
      negative = false;
      --width;
    }
    const unsigned fill = width - length;
    emitRepeated(sink, (sink->flags & ZeroFill) ? '0' : ' ', fill);
    budget -= fill;
  }
  if (negative) emitChar(sink, '-');

  if (groupSeparator == 0) {
    // Past the budget the least significant digits are cut.
    emitRun(sink, digits, length < budget ? length : budget);
    return;
  }
  // Grouped in a local buffer first, from the last digit back, so the result
  // goes out as one run.
  char grouped[GroupedBufferSize];
  char* out = grouped + GroupedBufferSize;
  const char* in = digits + count;
  while (in - digits > 3) {
    in -= 3;
    out -= 3;
    std::memcpy(out, in, 3);
    *--out = groupSeparator;
  }
  const unsigned leading = static_cast<unsigned>(in - digits);
  for (unsigned i = leading; i > 0; --i) *--out = digits[i - 1];
  emitRun(sink, out, length);
}

void convertSigned(FormatSink* sink, unsigned radix, bool upperCase, char groupSeparator) {
  // The magnitude is taken in the unsigned type of the same width, so that
  // the most negative value converts in full.
  if (sink->flags & Int64Arg) {
    const long long value = takeArg<long long>(sink);
    const unsigned long long bits = static_cast<unsigned long long>(value);
    convertMagnitude<uint64_t>(sink, value < 0 ? 0 - bits : bits, value < 0, radix, upperCase, groupSeparator);
  } else {
    const int value = takeArg<int>(sink);
    const unsigned bits = static_cast<unsigned>(value);
    convertMagnitude<uint32_t>(sink, value < 0 ? 0 - bits : bits, value < 0, radix, upperCase, groupSeparator);
  }
}

void convertUnsigned(FormatSink* sink, unsigned radix, bool upperCase, char groupSeparator) {
  if (sink->flags & Int64Arg)
    convertMagnitude<uint64_t>(sink, takeArg<unsigned long long>(sink), false, radix, upperCase,
                               groupSeparator);
  else
    convertMagnitude<uint32_t>(sink, takeArg<unsigned>(sink), false, radix, upperCase, groupSeparator);
}
