// Inside the format engine: a format parsed into steps, each the plain text
// before a directive and the directive itself, and the bounded cache of the
// parsed forms of the formats a host uses.
#pragma once

#include <cstdint>

#include "format/format.h"

// Which of a directive's numbers come from the argument list ("*").
enum StarFlag : uint8_t {
  StarWidth = 0x01,
  StarPrecision = 0x02,
};

// How runSteps runs a step, decided when the step is parsed. The directives
// hosts mostly write, with no "*", go straight to their conversion; every
// other one goes through convertStandard with its flags, width and precision.
enum StepKind : uint8_t {
  TextOnly,      // no directive
  Standard,      // convertStandard
  PlainText,     // "s" with no flags, width or precision
  EscapedText,   // "S" likewise
  Character,     // "c", which ignores flags, width and precision
  PlainInteger,  // an integer letter with no "-" and no precision: a width, "0", "#", "L" at most
};

// Offsets are from the start of the parsed text.
struct FormatStep {
  uint32_t textStart;   // plain text to copy before the directive
  uint32_t textLength;
  uint32_t letter;      // the conversion letter; NoDirective: the step is text only
  uint16_t width;       // as written; with StarWidth taken from the arguments
  uint16_t precision;   // as written (NoPrecision when absent); likewise StarPrecision
  uint8_t flags;        // FormatFlag bits
  uint8_t stars;        // StarFlag bits
  uint8_t kind;         // StepKind
  uint8_t integerForm;  // IntegerForm bits of an integer letter
};

constexpr uint32_t NoDirective = 0xFFFFFFFFu;

// Parses from `text` (the start of the parsed text is `base`) until the
// format ends or `capacity` steps are filled. A format that ends inside a
// directive ends with a text-only step. Returns where parsing stopped: at
// the terminating zero when the whole format was parsed.
const char* parseSteps(const char* base, const char* text, FormatStep* steps, unsigned capacity, unsigned* count);

// Copies each step's text and runs its directive against the sink's
// arguments. A run with a conversion handler of its own hands it every
// directive, whatever the step's kind.
void runSteps(FormatSink* sink, const char* base, const FormatStep* steps, unsigned count);

// A format's parsed form, kept for later runs of the same format.
struct ParsedFormat {
  static constexpr unsigned MaxText = 191;
  static constexpr unsigned MaxSteps = 12;
  static constexpr unsigned PoolSize = 128;  // formats kept for the life of the process
  const char* address;        // the host's format this was parsed from
  unsigned length;            // of text
  unsigned stepCount;
  FormatStep steps[MaxSteps];
  char text[MaxText + 1 + sizeof(void*)];  // a copy of the format: a later run checks it and runs
                                           // from it; a word of room past its zero for the check
};

// The parsed form of this format: found in the cache when the format at this
// address still holds the same text, else parsed and kept while the cache has
// room. Null when the format is too long or has too many directives to keep,
// or the cache has no room for it; the caller then parses as it goes.
const ParsedFormat* parsedFormat(const char* format);

// Formats kept so far: 0 in a new process, at most ParsedFormat::PoolSize.
unsigned keptFormatCount();
