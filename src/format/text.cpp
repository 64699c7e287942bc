// Text ("s", "S") and memory-dump ("p", "P") conversions.
#include "format/text.h"

#include <cstring>

#include "format/conversions.h"
#include "format/words.h"

namespace trovex {

namespace {

const char nullMarker[] = "**NULL**";

// Character classes of ISO 8859-1; the engine uses only "printable".
constexpr uint8_t Printable = 1;
struct ClassTable {
  uint8_t bits[256];
  constexpr ClassTable() : bits() {
    for (int c = 0; c < 256; ++c)
      bits[c] = ((c >= 0x20 && c <= 0x7E) || c >= 0xA1) ? Printable : 0;
  }
};
constexpr ClassTable characterClasses;

// What escaped mode emits after a backslash for a byte, 0 for "unchanged"
// and 1 for "dropped".
struct EscapeTable {
  char code[256];
  constexpr EscapeTable() : code() {
    for (int c = 1; c < 32; ++c) code[c] = 1;
    code[7] = 'a';
    code[8] = 'b';
    code[9] = 't';
    code[10] = 'n';
    code[12] = 'f';
    code[27] = 'e';
    code[int{'"'}] = '"';
    code[int{'\\'}] = '\\';
    code[0xA0] = static_cast<char>(0xA0);
  }
};
constexpr EscapeTable escapes;

// The bytes that end a run of escaped text copied as it is: those escaped
// mode changes, and the terminating zero.
struct RunEndTable {
  bool ends[256];
  constexpr RunEndTable() : ends() {
    for (int c = 0; c < 256; ++c) ends[c] = c == 0 || escapes.code[c] != 0;
  }
};
constexpr RunEndTable escapedRunEnds;

inline void emitTextChar(FormatSink* sink, unsigned char c, bool escaped) {
  if (escaped) {
    const char code = escapes.code[c];
    if (code == 1) return;
    if (code != 0) {
      emitChar(sink, '\\');
      emitChar(sink, code);
      return;
    }
  }
  emitChar(sink, static_cast<char>(c));
}

// A text ends at a unit whose low byte is zero; only low bytes are used.
template <typename Unit>
inline unsigned char lowByte(Unit unit) {
  return static_cast<unsigned char>(unit & 0xFF);
}

template <typename Unit>
unsigned measure(const Unit* text, unsigned limit) {
  if constexpr (sizeof(Unit) == 1) {
    return static_cast<unsigned>(strnlen(reinterpret_cast<const char*>(text), limit));
  } else {
    unsigned n = 0;
    while (n < limit && lowByte(text[n]) != 0) ++n;
    return n;
  }
}

// The bytes of a word that end a run of escaped text: those below 0x20 (the
// zero included), '"', '\\' and 0xA0, the bytes escaped mode changes.
inline Word escapedRunEndsIn(Word word) {
  return bytesBelow<0x20>(word) | bytesEqual(word, '"') | bytesEqual(word, '\\') | bytesEqual(word, 0xA0);
}
static_assert(RunEndTable().ends[0x1F] && RunEndTable().ends[int{'"'}] && RunEndTable().ends[int{'\\'}] &&
                  RunEndTable().ends[0xA0] && !RunEndTable().ends[0x20] && !RunEndTable().ends[0xA1] &&
                  !RunEndTable().ends[0x7F],
              "the word test finds the bytes of the table");

// The end of the run of unchanged characters from n: a word at a time where
// the word stays inside the limit and its page, then a byte at a time.
inline unsigned escapedRunEnd(const unsigned char* text, unsigned n, unsigned limit) {
  for (; limit - n >= sizeof(Word) && wordStaysInPage(text + n); n += sizeof(Word)) {
    if (const Word ends = escapedRunEndsIn(readWord(text + n))) return n + firstMarkedByte(ends);
  }
  while (n < limit && !escapedRunEnds.ends[text[n]]) ++n;
  return n;
}

// Escaped 8-bit text: the characters between those that change go out as runs.
unsigned emitEscapedRuns(FormatSink* sink, const unsigned char* text, unsigned limit) {
  unsigned n = 0;
  for (;;) {
    const unsigned start = n;
    n = escapedRunEnd(text, n, limit);
    emitRun(sink, reinterpret_cast<const char*>(text + start), n - start);
    if (n == limit || text[n] == 0) return n;
    emitTextChar(sink, text[n++], true);
  }
}

template <typename Unit>
unsigned emitUpTo(FormatSink* sink, const Unit* text, unsigned limit, bool escaped) {
  if constexpr (sizeof(Unit) == 1) {
    if (escaped) return emitEscapedRuns(sink, text, limit);
    if (sink->putRun) {
      const unsigned length = measure(text, limit);
      emitRun(sink, reinterpret_cast<const char*>(text), length);
      return length;
    }
  }
  unsigned n = 0;
  for (; n < limit; ++n) {
    const unsigned char c = lowByte(text[n]);
    if (c == 0) break;
    emitTextChar(sink, c, escaped);
  }
  return n;
}

// Fill counts characters taken from the text, not characters emitted.
template <typename Unit>
void emitUnits(FormatSink* sink, const Unit* text, bool escaped) {
  const unsigned width = sink->width;
  const unsigned limit = sink->precision;  // NoPrecision is also the 65535 cap
  unsigned taken;
  if (width == 0) {
    taken = emitUpTo(sink, text, limit, escaped);
  } else if (sink->flags & LeftAlign) {
    taken = emitUpTo(sink, text, limit, escaped);
    if (taken < width) emitRepeated(sink, ' ', width - taken);
  } else {
    const unsigned length = measure(text, limit);
    if (width > length) emitRepeated(sink, ' ', width - length);
    taken = emitUpTo(sink, text, limit, escaped);
  }
  sink->precision = static_cast<uint16_t>(sink->precision - taken);
}

}  // namespace

bool isPrintableChar(unsigned char c) { return characterClasses.bits[c] & Printable; }

void emitText(FormatSink* sink, const void* text, bool escaped) {
  const bool quoted = sink->flags & Alternate;
  if (quoted) emitChar(sink, '"');
  // The null marker is 8-bit text even for "w": read as 16-bit units it would
  // run past its own end.
  if (!text)
    emitUnits(sink, reinterpret_cast<const unsigned char*>(nullMarker), escaped);
  else if (sink->flags & WideChars)
    emitUnits(sink, static_cast<const uint16_t*>(text), escaped);
  else
    emitUnits(sink, static_cast<const unsigned char*>(text), escaped);
  if (quoted) emitChar(sink, '"');
}

void emitPlainText(FormatSink* sink, const void* text, bool escaped) {
  emitUpTo(sink, static_cast<const unsigned char*>(text ? text : nullMarker), NoPrecision, escaped);
}

void dumpMemory(FormatSink* sink, const void* memory, bool withCharacters) {
  const unsigned count = sink->precision == NoPrecision ? 16u : sink->precision;
  if (count == 0) return;
  // A null pointer is a host's mistake that must not take the host down: where
  // bytes would be read it shows as text does. A dump of no bytes reads none,
  // so it prints nothing for any pointer.
  if (!memory) {
    emitRun(sink, nullMarker, sizeof nullMarker - 1);
    return;
  }
  const unsigned char* bytes = static_cast<const unsigned char*>(memory);
  const char* hex = digitTable + 16;
  // A line at most: the newline before it, 32 digits with a space after each
  // group of 8, 3 spaces and 16 characters. It goes out as one run.
  char line[1 + 32 + 3 + 3 + 16];
  for (unsigned start = 0; start < count; start += 16) {
    const unsigned n = count - start < 16 ? count - start : 16;
    char* p = line;
    if (withCharacters && start > 0) *p++ = '\n';
    for (unsigned i = 0; i < n; ++i) {
      if (i == 4 || i == 8 || i == 12) *p++ = ' ';
      *p++ = hex[bytes[start + i] >> 4];
      *p++ = hex[bytes[start + i] & 0x0F];
    }
    if (withCharacters) {
      for (int i = 0; i < 3; ++i) *p++ = ' ';
      for (unsigned i = 0; i < n; ++i) {
        const unsigned char c = bytes[start + i];
        *p++ = (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '.';
      }
    }
    emitRun(sink, line, static_cast<unsigned>(p - line));
  }
}

}  // namespace trovex
