// Integer conversions: 32-bit or 64-bit arguments as digits of radix 8, 10 or
// 16, laid out with sign, fill, grouping of thousands and a precision that
// caps fill and digits together.
#include <cstring>
#include <type_traits>

#include "format/conversions.h"
#include "format/numbers.h"

namespace trovex {

namespace {

// The most any value needs: 22 octal digits of a 64-bit value, or 20
// decimal digits with their 6 separators.
constexpr unsigned DigitBufferSize = 26;

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

// Grouped decimal digits come three per division, a whole group at a time.
struct DigitTriples {
  char text[3000];
  constexpr DigitTriples() : text() {
    for (int i = 0; i < 1000; ++i) {
      text[3 * i] = static_cast<char>('0' + i / 100);
      text[3 * i + 1] = static_cast<char>('0' + i / 10 % 10);
      text[3 * i + 2] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitTriples digitTriples;

inline char* prependPair(char* p, unsigned below100) {
  const char* pair = digitPairs.text + 2 * below100;
  *--p = pair[1];
  *--p = pair[0];
  return p;
}

// A group of three digits and the separator before it.
inline char* prependGroup(char* p, unsigned below1000, char separator) {
  p -= 3;
  std::memcpy(p, digitTriples.text + 3 * below1000, 3);
  *--p = separator;
  return p;
}

// The digits of a value below 1000, with no leading zeros.
inline char* prependLeading(char* p, unsigned below1000) {
  if (below1000 >= 100) {
    p -= 3;
    std::memcpy(p, digitTriples.text + 3 * below1000, 3);
    return p;
  }
  if (below1000 >= 10) return prependPair(p, below1000);
  *--p = static_cast<char>('0' + below1000);
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

// The same with a separator between groups of three.
char* groupedDigits32(uint32_t value, char separator, char* end) {
  char* p = end;
  for (; value >= 1000; value /= 1000) p = prependGroup(p, value % 1000, separator);
  return prependLeading(p, value);
}

// A 32-bit target has no 64-bit division instruction: nine digits at a time
// (leading zeros included) come from one 64-bit division, the rest from
// 32-bit arithmetic. Grouped, the nine are three whole groups.
char* decimalDigits64(uint64_t value, char separator, char* end) {
  char* p = end;
  while (value > 0xFFFFFFFFu) {
    const uint64_t high = value / 1000000000u;
    uint32_t low = static_cast<uint32_t>(value - high * 1000000000u);
    if (separator != 0) {
      for (int i = 0; i < 3; ++i, low /= 1000) p = prependGroup(p, low % 1000, separator);
    } else {
      for (int i = 0; i < 4; ++i, low /= 100) p = prependPair(p, low % 100);
      *--p = static_cast<char>('0' + low);
    }
    value = high;
  }
  const uint32_t rest = static_cast<uint32_t>(value);
  return separator != 0 ? groupedDigits32(rest, separator, p) : decimalDigits32(rest, p);
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

// The digits of the form's radix, grouped where the form says, written
// backwards from end; returns the first.
template <typename Unsigned>
[[gnu::always_inline]] inline char* digitsOf(Unsigned value, uint8_t form, char* end) {
  if (form & IntegerHex) return binaryDigits(value, 4, (form & IntegerUpper) ? digitTable + 16 : digitTable, end);
  if (form & IntegerOctal) return binaryDigits(value, 3, digitTable, end);
  const char separator = (form & IntegerGrouped) ? '.' : 0;
  if constexpr (sizeof(Unsigned) > 4)
    return decimalDigits64(value, separator, end);
  else
    return separator != 0 ? groupedDigits32(value, separator, end) : decimalDigits32(value, end);
}

inline void emitPrefix(FormatSink* sink, uint8_t form, uint8_t flags) {
  if (!(flags & Alternate)) return;
  if (form & IntegerHex) {
    emitRun(sink, "0x", 2);
  } else if (form & IntegerOctal) {
    emitChar(sink, '0');
  }
}

// An argument's digits and sign, as the layout takes them.
struct ConvertedArgument {
  char buffer[DigitBufferSize];
  const char* digits;  // in buffer, up to its end
  unsigned count;
  bool negative;
};

// Takes the argument (int or, with "L", long long; unsigned for unsigned
// forms) and writes its magnitude's digits. The magnitude is taken in the
// unsigned type of the same width, so that the most negative value converts
// in full.
template <typename Signed>
[[gnu::always_inline]] inline void takeDigits(FormatSink* sink, uint8_t form, ConvertedArgument* argument) {
  using Unsigned = std::make_unsigned_t<Signed>;
  Unsigned magnitude;
  argument->negative = false;
  if (form & IntegerSigned) {
    const Signed value = takeArg<Signed>(sink);
    argument->negative = value < 0;
    magnitude = argument->negative ? 0 - static_cast<Unsigned>(value) : static_cast<Unsigned>(value);
  } else {
    magnitude = takeArg<Unsigned>(sink);
  }
  char* const end = argument->buffer + DigitBufferSize;
  argument->digits = digitsOf(magnitude, form, end);
  argument->count = static_cast<unsigned>(end - argument->digits);
}

[[gnu::always_inline]] inline void takeDigits(FormatSink* sink, uint8_t form, uint8_t flags,
                                              ConvertedArgument* argument) {
  if (flags & Int64Arg)
    takeDigits<long long>(sink, form, argument);
  else
    takeDigits<int>(sink, form, argument);
}

}  // namespace

void emitDigits(FormatSink* sink, const char* digits, unsigned count, bool negative, bool separated) {
  unsigned budget = sink->precision;  // NoPrecision is the budget 65535
  unsigned width = sink->width < budget ? sink->width : budget;
  if (!(sink->flags & LeftAlign) && width > count + (negative ? 1u : 0u)) {
    // The sign stands before the fill, whether the fill is zeros or spaces.
    if (negative) {
      emitChar(sink, '-');
      negative = false;
      --width;
    }
    const unsigned fill = width - count;
    emitRepeated(sink, (sink->flags & ZeroFill) ? '0' : ' ', fill);
    budget -= fill;
  }
  if (negative) emitChar(sink, '-');
  // Past the budget the least significant digits are cut; separated groups never are.
  emitRun(sink, digits, separated || count < budget ? count : budget);
}

void convertInteger(FormatSink* sink, uint8_t form) {
  emitPrefix(sink, form, sink->flags);
  ConvertedArgument argument;
  takeDigits(sink, form, sink->flags, &argument);
  // Grouping separates digits only where there are more than three.
  emitDigits(sink, argument.digits, argument.count, argument.negative, (form & IntegerGrouped) && argument.count > 3);
}

void convertPlainInteger(FormatSink* sink, uint8_t form, uint8_t flags, unsigned width) {
  emitPrefix(sink, form, flags);
  ConvertedArgument argument;
  takeDigits(sink, form, flags, &argument);
  if (argument.negative) {
    emitChar(sink, '-');
    width = width > 0 ? width - 1 : 0;
  }
  if (width > argument.count) emitRepeated(sink, (flags & ZeroFill) ? '0' : ' ', width - argument.count);
  emitRun(sink, argument.digits, argument.count);
}

}  // namespace trovex
