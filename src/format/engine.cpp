// The directive parser, the run of parsed steps and the dispatch on the
// conversion letter.
#include <cstring>

#include "common/contract.h"
#include "format/conversions.h"
#include "format/steps.h"
#include "format/text.h"

const char digitTable[33] = "0123456789abcdef0123456789ABCDEF";

namespace {
va_list unreadList;
}  // namespace
va_list* const ZeroArgs = &unreadList;

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
  if (step.stars != 0) return Standard;
  const bool bare = step.flags == 0 && step.width == 0 && step.precision == NoPrecision;
  if (letter == 's') return bare ? PlainText : Standard;
  if (letter == 'S') return bare ? EscapedText : Standard;
  if (letter == 'c') return Character;
  if (integerFormOf(letter) != 0 && step.precision == NoPrecision && !(step.flags & LeftAlign)) return PlainInteger;
  return Standard;
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

// Steps parsed and run at a time for a format the cache does not keep.
constexpr unsigned UnkeptSteps = 16;
static_assert(UnkeptSteps >= ParsedFormat::MaxSteps, "runSteps takes either");

// The window's fill from the engine's cursor, before the output function or
// the run's owner looks at it.
inline void syncWindow(FormatSink* sink) {
  if (ChunkCollector* window = sink->window) window->fill = static_cast<uint16_t>(sink->cursor - window->text);
}

// The cursor from the window's fill, after the output function changed it.
inline void followWindow(FormatSink* sink) {
  if (ChunkCollector* window = sink->window) sink->cursor = window->text + window->fill;
}

// Runs a whole format: a kept one from its steps, any other parsed as it goes.
void runFormat(FormatSink* sink) {
  const char* format = sink->format;
  if (!format) return;
  if (sink->verbatim) {
    const size_t length = std::strlen(format);
    emitRun(sink, format, static_cast<unsigned>(length));
    sink->format = format + length;
    return;
  }
  // A kept format runs from its copy, checked against the host's text.
  if (const ParsedFormat* parsed = parsedFormat(format)) {
    runSteps(sink, parsed->text, parsed->steps, parsed->stepCount);
    sink->format = format + parsed->length;
    return;
  }
  FormatStep steps[UnkeptSteps];
  const char* p = format;
  do {
    unsigned count;
    const char* next = parseSteps(p, p, steps, UnkeptSteps, &count);
    runSteps(sink, p, steps, count);
    p = next;
  } while (*p != '\0');
  sink->format = p;
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
    step->kind = TextOnly;
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

// A directive of any kind, through convertStandard or the run's own handler.
void convertFromStep(FormatSink* sink, const char* base, const FormatStep* step) {
  // Stars take their arguments in order: width, precision, then the conversion's.
  sink->flags = step->flags;
  sink->width = (step->stars & StarWidth) ? static_cast<uint16_t>(takeArg<int>(sink)) : step->width;
  sink->precision = (step->stars & StarPrecision) ? static_cast<uint16_t>(takeArg<int>(sink)) : step->precision;
  sink->format = base + step->letter;
  if (sink->convert)
    sink->convert(sink);
  else
    convertStandard(sink);
}

void runSteps(FormatSink* sink, const char* base, const FormatStep* steps, unsigned count) {
  TROVEX_ASSERT(count <= UnkeptSteps);
  const bool ownHandler = sink->convert != nullptr;
  for (const FormatStep* step = steps; step != steps + count; ++step) {
    emitRun(sink, base + step->textStart, step->textLength);
    if (step->kind == TextOnly) continue;
    if (ownHandler) {
      convertFromStep(sink, base, step);
      continue;
    }
    switch (step->kind) {
      case PlainText:
        emitPlainText(sink, takeArg<const void*>(sink), false);
        break;
      case EscapedText:
        emitPlainText(sink, takeArg<const void*>(sink), true);
        break;
      case Character:
        emitChar(sink, static_cast<char>(takeArg<int>(sink)));
        break;
      case PlainInteger:
        convertPlainInteger(sink, step->integerForm, step->flags, step->width);
        break;
      default:
        convertFromStep(sink, base, step);
        break;
    }
  }
}

void putCharSlowly(FormatSink* sink, char c) {
  syncWindow(sink);
  sink->ch = c;
  sink->put(sink);
  followWindow(sink);
}

void putRunSlowly(FormatSink* sink, const char* text, unsigned count) {
  if (!sink->putRun) {
    for (unsigned i = 0; i < count; ++i) emitChar(sink, text[i]);
    return;
  }
  if (count == 0) return;
  syncWindow(sink);
  sink->putRun(sink, text, count);
  followWindow(sink);
}

void formatToSink(FormatSink* sink) {
  runFormat(sink);
  syncWindow(sink);
}

void convertStandard(FormatSink* sink) {
  const unsigned char letter = static_cast<unsigned char>(*sink->format++);
  switch (letter) {
    case '%':
      emitChar(sink, '%');
      break;
    case 'c':
      emitChar(sink, static_cast<char>(takeArg<int>(sink)));
      break;
    case 'C': {
      const unsigned char c = static_cast<unsigned char>(takeArg<int>(sink));
      emitChar(sink, isPrintableChar(c) ? static_cast<char>(c) : '.');
      break;
    }
    case 's':
      emitText(sink, takeArg<const void*>(sink), false);
      break;
    case 'S':
      emitText(sink, takeArg<const void*>(sink), true);
      break;
    case 'f':
      convertFloat(sink);
      break;
    case 'p':
      dumpMemory(sink, takeArg<const void*>(sink), false);
      break;
    case 'P':
      dumpMemory(sink, takeArg<const void*>(sink), true);
      break;
    case 'n':
      // The pointer is consumed; nothing is ever stored through it.
      (void)takeArg<void*>(sink);
      break;
    default:
      // The integer letters; unknown letters produce nothing and take no argument.
      if (const uint8_t form = integerFormOf(static_cast<char>(letter))) convertInteger(sink, form);
      break;
  }
}

void beginFormatRun(FormatSink* sink, const char* format, va_list* args, FormatPut put, void* state) {
  // Field by field: clearing the record as a whole compiles to a block
  // store whose start-up costs more than a short message.
  sink->format = format ? format : "";
  sink->convert = nullptr;
  sink->width = 0;
  sink->precision = 0;
  sink->ch = 0;
  sink->flags = 0;
  sink->put = put;
  sink->putRun = nullptr;
  sink->window = nullptr;
  sink->cursor = nullptr;
  sink->windowEnd = nullptr;
  sink->state = state;
  sink->verbatim = !args;
  sink->zeroArgs = args == ZeroArgs;
  if (args && !sink->zeroArgs) va_copy(sink->args, *args);
}

void endFormatRun(FormatSink* sink) {
  if (!sink->verbatim && !sink->zeroArgs) va_end(sink->args);
}
