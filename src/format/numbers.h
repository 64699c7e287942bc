// Inside the format engine: the digit layout of the integer conversions and
// the digit generation of the "f" conversion, which the conversions share
// with their tests.
#pragma once

#include <cstdint>

#include "format/format.h"

namespace trovex {

// Lays out count digits (most significant first) with the directive's width,
// precision and flags: a "-" for a negative value always before the fill, fill
// only without LeftAlign, and the precision as a cap on fill and digits
// together. Digits separated into groups (the separators counted in count)
// are never cut.
void emitDigits(FormatSink* sink, const char* digits, unsigned count, bool negative, bool separated);

// Work record of one "f" conversion. The caller sets wanted; floatToDigits
// fills the rest.
struct FloatDigits {
  char integerDigits[32];   // filled from the end backwards; a zero in the last place
  unsigned integerSize;     // 32: at most 31 integer digits
  unsigned integerStart;    // index of the first integer digit written; integerSize - 1 when none
  char fractionDigits[32];  // filled from the start, zero-terminated; at most 30 digits
  unsigned fractionSize;    // 32
  unsigned fractionEnd;     // write position in fractionDigits: the count written
  uint16_t wanted;          // fraction digits wanted (D), 0 to 31
};

// Rounds the nonnegative magnitude half up at wanted places (none when wanted
// is 0: the fraction is cut) and generates its integer and fraction digits.
// Fails when the integer part has more than 31 digits, an infinity included.
bool floatToDigits(FloatDigits* digits, double magnitude);

// 10 to the n, built by squaring and multiplying by ten so that every step is
// rounded to double; larger powers may differ from the nearest double in the
// last place (10^25 is one step below it).
double powerOfTen(unsigned n);

}  // namespace trovex
