// The directive parser: a format cut into steps, each the plain text before
// a directive and the directive's items, with the kind of its conversion.
#include <cstring>

#include "format/steps.h"

namespace trovex {

namespace {

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A run of decimal digits, taken modulo 65536 (16-bit arithmetic wraps).
uint16_t readNumber(const char*& p) {
  uint16_t value = 0;
  while (isDigit(*p)) value = static_cast<uint16_t>(value * 10u + static_cast<unsigned>(*p++ - '0'));
  return value;
}

// A "*" marks the number as the next argument, read when the step runs.
uint16_t readStarOrNumber(const char*& p, uint8_t* stars, uint8_t star, uint16_t absent) {
  if (*p == '*') {
    ++p;
    *stars |= star;
    return 0;
  }
  return isDigit(*p) ? readNumber(p) : absent;
}

StepKind stepKindOf(char letter, const FormatStep& step) {
  const bool plain = step.stars == 0 && step.flags == 0 && step.width == 0 && step.precision == NoPrecision;
  switch (letter) {
    case 's': return plain ? StepKind::PlainText : StepKind::Text;
    case 'S': return plain ? StepKind::PlainEscapedText : StepKind::EscapedText;
    case 'c': return StepKind::Character;
    case 'C': return StepKind::PrintableCharacter;
    case 'f': return StepKind::Float;
    case 'p': return StepKind::Dump;
    case 'P': return StepKind::DumpWithCharacters;
    case '%': return StepKind::Percent;
    case 'n': return StepKind::SkippedPointer;
    default: break;
  }
  if (integerFormOf(letter) == 0) return StepKind::Unknown;
  const bool direct = step.stars == 0 && step.precision == NoPrecision && !(step.flags & LeftAlign);
  return direct ? StepKind::PlainInteger : StepKind::Integer;
}

// Reads the items after "%" at p in their fixed order, each at most once.
// Returns the position after the letter, or that of the terminating zero
// when the format ends inside the directive (the step is then text only).
const char* parseDirective(const char* base, const char* p, FormatStep* step) {
  uint8_t flags = 0;
  uint8_t stars = 0;
  if (*p == '#') flags |= Alternate, ++p;
  if (*p == '-') flags |= LeftAlign, ++p;
  if (*p == '0') flags |= ZeroFill, ++p;
  step->width = readStarOrNumber(p, &stars, StarWidth, 0);
  if (*p == '.') ++p;
  step->precision = readStarOrNumber(p, &stars, StarPrecision, NoPrecision);
  if (*p == 'l') {
    ++p;
  } else if (*p == 'L') {
    flags |= Int64Arg;
    ++p;
  }
  if (*p == 'w') flags |= WideChars, ++p;
  step->flags = flags;
  step->stars = stars;
  if (*p == '\0') return p;
  step->letter = static_cast<uint32_t>(p - base);
  step->kind = stepKindOf(*p, *step);
  step->integerForm = integerFormOf(*p);
  return p + 1;
}

// Plain text up to this length is scanned a byte at a time; beyond it the C
// library's vectorised search is faster.
constexpr unsigned ShortText = 16;

// The next "%" or the terminating zero.
const char* plainTextEnd(const char* p) {
  for (unsigned i = 0; i < ShortText; ++i, ++p)
    if (*p == '%' || *p == '\0') return p;
  const char* directive = std::strchr(p, '%');
  return directive ? directive : p + std::strlen(p);
}

}  // namespace

const char* parseSteps(const char* base, const char* text, FormatStep* steps, unsigned capacity, unsigned* count) {
  const char* p = text;
  unsigned n = 0;
  while (n < capacity) {
    FormatStep* step = &steps[n++];
    const char* textEnd = plainTextEnd(p);
    step->textStart = static_cast<uint32_t>(p - base);
    step->textLength = static_cast<uint32_t>(textEnd - p);
    step->letter = NoDirective;
    step->kind = StepKind::TextOnly;
    if (*textEnd == '\0') {
      p = textEnd;
      break;
    }
    p = parseDirective(base, textEnd + 1, step);
    if (*p == '\0') break;
  }
  *count = n;
  return p;
}

}  // namespace trovex
