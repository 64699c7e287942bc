// The run loop, the directive parser and the dispatch on the conversion letter.
#include <cstring>

#include "format/conversions.h"
#include "format/text.h"

const char digitTable[33] = "0123456789abcdef0123456789ABCDEF";

namespace {

inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A run of decimal digits, taken modulo 65536 (16-bit arithmetic wraps).
uint16_t readNumber(const char*& p) {
  uint16_t value = 0;
  while (isDigit(*p)) value = static_cast<uint16_t>(value * 10u + static_cast<unsigned>(*p++ - '0'));
  return value;
}

// A "*" takes the next argument and keeps its low 16 bits, so a negative
// width becomes a large one rather than left alignment.
uint16_t readStarOrNumber(FormatSink* sink, const char*& p, uint16_t absent) {
  if (*p == '*') {
    ++p;
    return static_cast<uint16_t>(va_arg(sink->args, int));
  }
  return isDigit(*p) ? readNumber(p) : absent;
}

// Reads the items after "%" in their fixed order, each at most once. Returns
// false when the format ends inside the directive.
bool parseDirective(FormatSink* sink) {
  const char* p = sink->format;
  uint8_t flags = 0;
  if (*p == '#') flags |= Alternate, ++p;
  if (*p == '-') flags |= LeftAlign, ++p;
  if (*p == '0') flags |= ZeroFill, ++p;
  sink->width = readStarOrNumber(sink, p, 0);
  if (*p == '.') ++p;
  sink->precision = readStarOrNumber(sink, p, NoPrecision);
  if (*p == 'l') {
    ++p;
  } else if (*p == 'L') {
    flags |= Int64Arg;
    ++p;
  }
  if (*p == 'w') flags |= WideChars, ++p;
  sink->flags = flags;
  sink->format = p;
  return *p != '\0';
}

// Plain text up to this length is scanned a byte at a time; beyond it the C
// library's vectorised search is faster.
constexpr unsigned ShortText = 16;

// The next "%" or the terminating zero. Text between directives is mostly
// short, where a byte loop beats a call; a longer run goes to the C
// library's vectorised search.
const char* plainTextEnd(const char* p) {
  for (unsigned i = 0; i < ShortText; ++i, ++p)
    if (*p == '%' || *p == '\0') return p;
  const char* directive = std::strchr(p, '%');
  return directive ? directive : p + std::strlen(p);
}

}  // namespace

void formatToSink(FormatSink* sink) {
  if (!sink->convert) sink->convert = convertStandard;
  const char* p = sink->format;
  if (!p) return;
  for (;;) {
    char c = *p;
    if (c == '\0') break;
    ChunkCollector* window = sink->window;
    if (window && window->fill < window->size && c != '%' && !sink->verbatim) {
      // Short plain text (the common case between directives) is scanned
      // and stored in one pass while the window has room; longer text, and
      // what does not fit, goes out as a run below.
      char* out = window->text + window->fill;
      const unsigned room = window->size - window->fill;
      char* const end = out + (room < ShortText ? room : ShortText);
      while (out < end && c != '%' && c != '\0') {
        *out++ = c;
        c = *++p;
      }
      window->fill = static_cast<uint16_t>(out - window->text);
      sink->format = p;
      if (c == '\0' || c == '%' || window->fill == window->size) continue;
    }
    if (sink->putRun && (c != '%' || sink->verbatim)) {
      // Plain text goes out as one run up to the next directive or the end.
      const char* start = p;
      p = sink->verbatim ? p + std::strlen(p) : plainTextEnd(p);
      sink->format = p;
      emitRun(sink, start, static_cast<unsigned>(p - start));
      continue;
    }
    if (c != '%' || sink->verbatim) {
      sink->ch = c;
      sink->format = ++p;
      sink->put(sink);
      continue;
    }
    sink->format = p + 1;
    if (!parseDirective(sink)) return;
    // A direct call where it is the standard handler, which can be inlined.
    if (sink->convert == convertStandard)
      convertStandard(sink);
    else
      sink->convert(sink);
    p = sink->format;
  }
  sink->format = p;
}

void convertStandard(FormatSink* sink) {
  const unsigned char letter = static_cast<unsigned char>(*sink->format++);
  switch (letter) {
    case '%':
      emitChar(sink, '%');
      break;
    case 'c':
      emitChar(sink, static_cast<char>(va_arg(sink->args, int)));
      break;
    case 'C': {
      const unsigned char c = static_cast<unsigned char>(va_arg(sink->args, int));
      emitChar(sink, isPrintableChar(c) ? static_cast<char>(c) : '.');
      break;
    }
    case 's':
      emitText(sink, va_arg(sink->args, const void*), false);
      break;
    case 'S':
      emitText(sink, va_arg(sink->args, const void*), true);
      break;
    case 'd': case 'i':
      convertSigned(sink, 10, false, 0);
      break;
    case 'D': case 'I':
      convertSigned(sink, 10, false, '.');
      break;
    case 'u':
      convertUnsigned(sink, 10, false, 0);
      break;
    case 'U':
      convertUnsigned(sink, 10, false, '.');
      break;
    case 'x': case 'X':
      if (sink->flags & Alternate) emitChar(sink, '0'), emitChar(sink, 'x');
      convertUnsigned(sink, 16, letter == 'X', 0);
      break;
    case 'o': case 'O':
      if (sink->flags & Alternate) emitChar(sink, '0');
      convertUnsigned(sink, 8, false, 0);
      break;
    case 'f':
      convertFloat(sink);
      break;
    case 'p':
      dumpMemory(sink, va_arg(sink->args, const void*), false);
      break;
    case 'P':
      dumpMemory(sink, va_arg(sink->args, const void*), true);
      break;
    case 'n':
      // The pointer is consumed; nothing is ever stored through it.
      (void)va_arg(sink->args, void*);
      break;
    default:
      // Unknown letters produce nothing and take no argument.
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
  sink->state = state;
  sink->verbatim = false;
  if (args)
    va_copy(sink->args, *args);
  else
    sink->verbatim = true;
}

void endFormatRun(FormatSink* sink) {
  if (!sink->verbatim) va_end(sink->args);
}
