// The "f" conversion: a double as a fixed-point decimal. Every intermediate
// result is a double (the builds use SSE2 arithmetic without contraction into
// fused multiply-add), so every build prints the same digits, also for values
// within one double step of a rounding tie.
#include <cmath>
#include <cstring>

#include "format/conversions.h"
#include "format/numbers.h"

namespace trovex {

namespace {

constexpr unsigned DefaultPlaces = 16;  // fraction digits without a precision
constexpr unsigned MostPlaces = 31;     // a larger precision is taken as this
constexpr unsigned MostFractionDigits = 30;
constexpr double Half = 0.5;
constexpr double Tenth = 0.1;
constexpr double Ten = 10.0;

// Puts a digit in front of the integer digits so far; false when the buffer
// already holds its 31 digits.
inline bool prependDigit(FloatDigits* d, unsigned digit) {
  if (d->integerStart == 0) return false;
  d->integerDigits[--d->integerStart] = static_cast<char>('0' + digit);
  return true;
}

// Taking a whole number apart in floating point (a tenth, its floor, the
// remainder) is exact only while a tenth of it, rounded to double, cannot
// reach the next integer: below 10 x 2^49. Above, a tenth such as
// 721480201216376.9 rounds up to ...377 and the remainder falls outside 0
// to 9. The loop is kept below 2^52, with room to spare.
constexpr double ExactDigitLoopBelow = 4503599627370496.0;  // 2^52

// The integer digits of a whole number from 2^52 up, exactly: the double
// holds it as its 53-bit significand shifted left by 0 to 51 places, and the
// digits come from that in 32-bit pieces.
bool exactIntegerDigits(FloatDigits* d, double whole) {
  uint64_t bits;
  std::memcpy(&bits, &whole, sizeof bits);
  const unsigned shift = static_cast<unsigned>(bits >> 52 & 0x7FF) - 1075;
  // From 2^104 on (about 2 x 10^31) there are more than 31 digits; this
  // takes in the infinities too.
  if (shift > 51) return false;
  const uint64_t significand = (bits & ((uint64_t{1} << 52) - 1)) | uint64_t{1} << 52;
  uint32_t limbs[4] = {};  // least significant first
  const unsigned limbShift = shift / 32, bitShift = shift % 32;
  for (unsigned i = 0; i < 2; ++i) {
    const uint64_t piece = static_cast<uint32_t>(significand >> (32 * i));
    limbs[i + limbShift] |= static_cast<uint32_t>(piece << bitShift);
    if (i + limbShift + 1 < 4) limbs[i + limbShift + 1] |= static_cast<uint32_t>(piece >> (32 - bitShift));
  }
  for (;;) {
    uint64_t remainder = 0;
    bool more = false;
    for (int i = 3; i >= 0; --i) {
      const uint64_t current = remainder << 32 | limbs[i];
      limbs[i] = static_cast<uint32_t>(current / 10);
      remainder = current % 10;
      more = more || limbs[i] != 0;
    }
    if (!prependDigit(d, static_cast<unsigned>(remainder))) return false;
    if (!more) return true;
  }
}

}  // namespace

double powerOfTen(unsigned n) {
  static const double table[] = {1.0, 10.0, 100.0, 1000.0, 10000.0};
  if (n <= 4) return table[n];
  if (n % 2 != 0) return powerOfTen(n - 1) * Ten;
  const double root = powerOfTen(n / 2);
  return root * root;
}

bool floatToDigits(FloatDigits* d, double m) {
  d->integerSize = sizeof d->integerDigits;
  d->integerStart = d->integerSize - 1;
  d->integerDigits[d->integerStart] = '\0';
  d->fractionSize = sizeof d->fractionDigits;
  d->fractionEnd = 0;
  d->fractionDigits[0] = '\0';

  // Half up at D places; without places the fraction is cut, not rounded.
  if (d->wanted > 0) {
    const double scale = powerOfTen(d->wanted);
    m = std::floor(m * scale + Half) / scale;
  }
  const double whole = std::floor(m);

  if (whole >= ExactDigitLoopBelow) {
    if (!exactIntegerDigits(d, whole)) return false;
  } else if (whole >= 1) {
    double e = whole, f;
    do {
      f = e * Tenth;
      const double g = std::floor(f);
      if (!prependDigit(d, static_cast<unsigned>(std::floor(e - Ten * g + Half)))) return false;
      e = g;
    } while (f >= 1);
  }

  if (d->wanted == 0) return true;
  double fraction = m - whole;
  if (!(fraction > 0)) return true;  // zero, or NaN

  // The fraction is never reduced: it grows tenfold each step while sum
  // follows the whole number made of the digits taken.
  double sum = 0;
  for (int left = d->wanted;;) {
    fraction *= Ten;
    sum *= Ten;
    const double rest = fraction - sum;
    --left;
    if (rest == 0) break;
    const double digit = left <= 0 ? std::floor(rest + Half) : std::floor(rest);
    sum += digit;
    if (digit > 9) break;
    if (d->fractionEnd == MostFractionDigits) break;
    d->fractionDigits[d->fractionEnd++] = static_cast<char>('0' + static_cast<int>(digit));
    if (left <= 0) break;
  }
  d->fractionDigits[d->fractionEnd] = '\0';
  return true;
}

void convertFloat(FormatSink* sink) {
  const double x = takeArg<double>(sink);
  // Negative zero and NaN compare as not below zero: they print no sign.
  const bool negative = x < 0;
  FloatDigits d;
  const unsigned precision = sink->precision;
  d.wanted = static_cast<uint16_t>(precision == NoPrecision ? DefaultPlaces
                                   : precision < MostPlaces ? precision
                                                            : MostPlaces);
  if (!floatToDigits(&d, negative ? -x : x)) {
    emitChar(sink, '0');
    return;
  }

  const char* integer = d.integerDigits + d.integerStart;
  unsigned length = d.integerSize - 1 - d.integerStart;
  if (length == 0) integer = "0", length = 1;

  // The width concerns the integer part only and cuts its trailing digits.
  const unsigned width = sink->width != 0 ? sink->width : length;
  const unsigned n = width < length ? width : length;
  unsigned fill = width - n;
  if (negative) fill = fill > 0 ? fill - 1 : 0;
  if ((sink->flags & ZeroFill) && !(sink->flags & LeftAlign)) {
    if (negative) emitChar(sink, '-');
    emitRepeated(sink, '0', fill);
  } else {
    emitRepeated(sink, ' ', fill);
    if (negative) emitChar(sink, '-');
  }
  for (unsigned i = 0; i < n; ++i) emitChar(sink, integer[i]);

  if (precision == 0) return;

  // Trailing zeros are dropped, except that ZeroFill writes exactly D places.
  const unsigned generated = d.fractionEnd < d.wanted ? d.fractionEnd : d.wanted;
  unsigned last = 0;
  if (sink->flags & ZeroFill) {
    last = d.wanted;
  } else {
    for (unsigned i = 0; i < generated; ++i)
      if (d.fractionDigits[i] != '0') last = i + 1;
  }
  if ((sink->flags & Alternate) || last > 0) emitChar(sink, '.');
  for (unsigned i = 0; i < last; ++i) emitChar(sink, i < generated ? d.fractionDigits[i] : '0');
}

}  // namespace trovex
