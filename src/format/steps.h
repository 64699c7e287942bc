// Inside the format engine: a format parsed into steps, each the plain text
// before a directive and the directive itself, and the bounded cache of the
// parsed forms of the formats a host uses.
#pragma once

#include <cstdint>
#include <cstring>

#include "common/contract.h"
#include "format/conversions.h"
#include "format/format.h"
#include "format/text.h"

namespace trovex {

// Which of a directive's numbers come from the argument list ("*").
enum StarFlag : uint8_t {
  StarWidth = 0x01,
  StarPrecision = 0x02,
};

// What a step's directive converts, decided when the step is parsed: the
// one place where a letter is classed. The "plain" kinds are the directives
// hosts mostly write, run straight from the step; every other kind first takes
// the step's flags, width and precision into the sink, "*" numbers included.
enum class StepKind : uint8_t {
  TextOnly,            // no directive
  PlainText,           // "s" with no flags, width, precision or "*"
  PlainEscapedText,    // "S" likewise
  Text,                // any other "s"
  EscapedText,         // any other "S"
  Character,           // "c": flags, width and precision ignored ("*" numbers still taken)
  PrintableCharacter,  // "C": likewise, with "." for a byte that is not printable
  PlainInteger,        // an integer letter with no "-", precision or "*": a width, "0", "#", "L" at most
  Integer,             // any other integer letter
  Float,               // "f"
  Dump,                // "p"
  DumpWithCharacters,  // "P"
  Percent,             // "%"
  SkippedPointer,      // "n": the pointer is taken, nothing is stored through it
  Unknown,             // any other letter: nothing emitted, no argument taken
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
  StepKind kind;
  uint8_t integerForm;  // IntegerForm bits of an integer letter
};

constexpr uint32_t NoDirective = 0xFFFFFFFFu;

// Steps parsed and run at a time for a format the cache does not keep.
constexpr unsigned UnkeptSteps = 16;

// Parses from `text` (the start of the parsed text is `base`) until the
// format ends or `capacity` steps are filled. A format that ends inside a
// directive ends with a text-only step. Returns where parsing stopped: at
// the terminating zero when the whole format was parsed.
const char* parseSteps(const char* base, const char* text, FormatStep* steps, unsigned capacity, unsigned* count);

// A format's parsed form, kept for later runs of the same format.
struct ParsedFormat {
  static constexpr unsigned MaxText = 191;
  static constexpr unsigned MaxSteps = 12;
  static constexpr unsigned PoolSize = 128;  // formats kept for the life of the process
  static constexpr unsigned TableSize = 256; // slots that find them: 8 bits of an address's hash
  const char* address;        // the host's format this was parsed from
  unsigned length;            // of text
  unsigned stepCount;
  FormatStep steps[MaxSteps];
  char text[MaxText + 1 + sizeof(void*)];  // a copy of the format: a later run checks it and runs
                                           // from it; a word of room past its zero for the check
};
static_assert(UnkeptSteps >= ParsedFormat::MaxSteps, "a kept format's steps fit where an unkept one's go");

// The parsed form of this format: found in the cache when the format at this
// address still holds the same text, else parsed and kept while the cache has
// room. Null when the format is too long or has too many directives to keep,
// or the cache has no room for it; the caller then parses as it goes.
const ParsedFormat* parsedFormat(const char* format);

// The slot of the cache where the format at this address is looked for
// first, below ParsedFormat::TableSize; the next few are tried after it.
unsigned homeSlot(const char* format);

// A directive's flags, width and precision into the sink, for conversions
// that read them there. "*" numbers are taken in order: width, precision,
// then the conversion's own argument.
inline void takeFields(FormatSink* sink, const FormatStep* step) {
  sink->flags = step->flags;
  sink->width = (step->stars & StarWidth) ? static_cast<uint16_t>(takeArg<int>(sink)) : step->width;
  sink->precision = (step->stars & StarPrecision) ? static_cast<uint16_t>(takeArg<int>(sink)) : step->precision;
}

// Runs a step's directive (not its text) against the sink's arguments: "*"
// numbers first, then the conversion's own. The one dispatch on a
// directive's kind, inline in the walk of every run.
[[gnu::always_inline]] inline void runDirective(FormatSink* sink, const FormatStep* step) {
  switch (step->kind) {
    case StepKind::TextOnly:
      return;
    case StepKind::PlainText:
      return emitPlainText(sink, takeArg<const void*>(sink), false);
    case StepKind::PlainEscapedText:
      return emitPlainText(sink, takeArg<const void*>(sink), true);
    case StepKind::Text:
      takeFields(sink, step);
      return emitText(sink, takeArg<const void*>(sink), false);
    case StepKind::EscapedText:
      takeFields(sink, step);
      return emitText(sink, takeArg<const void*>(sink), true);
    case StepKind::Character:
      if (step->stars) takeFields(sink, step);
      return emitChar(sink, static_cast<char>(takeArg<int>(sink)));
    case StepKind::PrintableCharacter: {
      takeFields(sink, step);
      const unsigned char c = static_cast<unsigned char>(takeArg<int>(sink));
      return emitChar(sink, isPrintableChar(c) ? static_cast<char>(c) : '.');
    }
    case StepKind::PlainInteger:
      return convertPlainInteger(sink, step->integerForm, step->flags, step->width);
    case StepKind::Integer:
      takeFields(sink, step);
      return convertInteger(sink, step->integerForm);
    case StepKind::Float:
      takeFields(sink, step);
      return convertFloat(sink);
    case StepKind::Dump:
      takeFields(sink, step);
      return dumpMemory(sink, takeArg<const void*>(sink), false);
    case StepKind::DumpWithCharacters:
      takeFields(sink, step);
      return dumpMemory(sink, takeArg<const void*>(sink), true);
    case StepKind::Percent:
      takeFields(sink, step);
      return emitChar(sink, '%');
    case StepKind::SkippedPointer:
      takeFields(sink, step);
      (void)takeArg<void*>(sink);  // nothing is ever stored through it
      return;
    case StepKind::Unknown:
      takeFields(sink, step);  // an unknown letter takes no argument of its own
      return;
  }
}

// Each step's text, then its directive through runStep(sink, step).
template <typename RunStep>
[[gnu::noinline]] void runStepsWith(FormatSink* sink, const char* base, const FormatStep* steps, unsigned count,
                                    RunStep runStep) {
  for (const FormatStep* step = steps; step != steps + count; ++step) {
    emitRun(sink, base + step->textStart, step->textLength);
    runStep(sink, step);
  }
}

// The walk over a whole format: a kept one from its steps, any other parsed
// as it goes, each step's text copied and its directive handed to
// runStep(sink, step). The engine's runs hand it to runDirective; a test
// that needs its own arguments per directive (the fuzz target) wraps it.
template <typename RunStep>
void runFormatWith(FormatSink* sink, RunStep runStep) {
  const char* format = sink->format;
  TROVEX_ASSERT(format);  // beginFormatRun makes a null format empty text
  if (sink->verbatim) {
    const size_t length = std::strlen(format);
    emitRun(sink, format, static_cast<unsigned>(length));
    sink->format = format + length;
    syncWindow(sink);
    return;
  }
  // A kept format runs from its copy, checked against the host's text.
  if (const ParsedFormat* parsed = parsedFormat(format)) {
    runStepsWith(sink, parsed->text, parsed->steps, parsed->stepCount, runStep);
    sink->format = format + parsed->length;
  } else {
    FormatStep steps[UnkeptSteps];
    const char* p = format;
    do {
      unsigned count;
      const char* next = parseSteps(p, p, steps, UnkeptSteps, &count);
      runStepsWith(sink, p, steps, count, runStep);
      p = next;
    } while (*p != '\0');
    sink->format = p;
  }
  syncWindow(sink);
}

}  // namespace trovex
