// Inside the format engine: the conversions that runDirective dispatches to.
#pragma once

#include "format/format.h"
#include "format/sink.h"

namespace trovex {

// The next argument of type T; 0 or a null pointer for a run over ZeroArgs.
template <typename T>
inline T takeArg(FormatSink* sink) {
  if (__builtin_expect(sink->zeroArgs, 0)) return T{};
  return va_arg(sink->args, T);
}

// What an integer letter converts: "d" "i" "D" "I" (signed) and "u" "U"
// "x" "X" "o" "O" (unsigned).
enum IntegerForm : uint8_t {
  IntegerLetter = 0x01,   // set for every integer letter, so that no form is 0
  IntegerSigned = 0x02,   // "d" "i" "D" "I"
  IntegerGrouped = 0x04,  // "D" "I" "U": a "." between groups of three digits
  IntegerHex = 0x08,      // "x" "X"; "#" puts "0x" before the field
  IntegerUpper = 0x10,    // "X"
  IntegerOctal = 0x20,    // "o" "O"; "#" puts "0" before the field
};

// The form of an integer letter; 0 for any other letter.
constexpr uint8_t integerFormOf(char letter) {
  switch (letter) {
    case 'd': case 'i': return IntegerLetter | IntegerSigned;
    case 'D': case 'I': return IntegerLetter | IntegerSigned | IntegerGrouped;
    case 'u': return IntegerLetter;
    case 'U': return IntegerLetter | IntegerGrouped;
    case 'x': return IntegerLetter | IntegerHex;
    case 'X': return IntegerLetter | IntegerHex | IntegerUpper;
    case 'o': case 'O': return IntegerLetter | IntegerOctal;
    default: return 0;
  }
}

// An integer directive with the sink's flags, width and precision: the "#"
// prefix, then the argument of 32 or 64 bits ("L") laid out.
void convertInteger(FormatSink* sink, uint8_t form);
// The same for a directive with no "-" and no precision, whose flags and
// width are given: the prefix, the sign, the fill up to the width, the digits.
void convertPlainInteger(FormatSink* sink, uint8_t form, uint8_t flags, unsigned width);

// The letter "f".
void convertFloat(FormatSink* sink);

}  // namespace trovex
