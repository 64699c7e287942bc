// libFuzzer target for the format engine. The first PoolSize bytes of an
// input are a pool that chooses argument values (integers, doubles of any bit
// pattern, null or real texts of chosen length and content); the rest is the
// format, copied into an allocation of its own exact size so that
// AddressSanitizer sees any read past its terminating zero.
//
// A caller must pass arguments of the kinds its directives name; reading a
// double where an int was passed, or past the last argument, is undefined
// behaviour of the caller, not a fault of the engine. The harness keeps that
// contract for arbitrary formats: it walks the format as the engine does and
// hands every directive to the engine with an argument list of its own,
// holding the "*" numbers it takes and exactly the argument its kind takes,
// each text and memory block in an allocation of exactly the size the
// directive may read, or now and then a null pointer. "*" widths and
// precisions come from the same two integers for every directive, mostly
// small ones (starValue).
//
// Every input runs twice with the same argument values: once with no output
// window, the engine handing over each character or run as it comes, and
// once through the chunk collector, whose array the engine fills as a
// window, the path of every destination. The first output is the oracle:
// the second must be byte for byte the same. The
// collector's piece size comes from the pool, from 1 to 256 characters, and
// its array is an allocation of exactly that size.
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "format/steps.h"

using namespace trovex;

namespace {

constexpr size_t PoolSize = 32;

// The collector comes first, so that a run's state is the harness whichever
// output function it uses.
struct Harness {
  ChunkCollector chunks;        // the chunked run's collector
  uint8_t pool[PoolSize];       // argument values, zero-padded for short inputs
  size_t next;                  // next pool byte to take, cyclic
  size_t firstArgument;         // where every run starts taking pool bytes
  int stars[2];                 // the values "*" takes, in order
  va_list* runList;             // the run's own list, alive during the run
  std::string* output;          // the oracle run's output
  const std::string* expected;  // set: output is checked against this instead
  size_t checked;               // characters of *expected matched so far
};
static_assert(std::is_standard_layout_v<Harness>, "the collector must sit at the harness's address");

uint8_t takeByte(Harness* h) {
  const uint8_t b = h->pool[h->next];
  h->next = (h->next + 1) % PoolSize;
  return b;
}

uint64_t takeBits(Harness* h) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = bits << 8 | takeByte(h);
  return bits;
}

// A "*" number: mostly a field of up to 127, now and then one at the edges
// of the 16 bits the engine keeps (a negative number wraps there). Any 32-bit
// value would give nearly every "*" a field of tens of thousands, and an
// input a run of that much output, which tries nothing a field of 100 does
// not try: most of the target's time went there.
int starValue(Harness* h) {
  static const int edges[] = {-1, -2, 0, 65535, 65536, 65534, INT_MAX, INT_MIN, 1000, 4096};
  const uint8_t choice = takeByte(h);
  if (choice >= 0xF0) return edges[choice % (sizeof edges / sizeof edges[0])];
  return choice & 0x7F;
}

// Records output, or checks it against the oracle's and traps on the first
// difference.
void deliver(Harness* h, const char* text, size_t count) {
  if (!h->expected) {
    h->output->append(text, count);
    return;
  }
  if (h->checked + count > h->expected->size() ||
      std::memcmp(h->expected->data() + h->checked, text, count) != 0)
    __builtin_trap();
  h->checked += count;
}

void putCharacter(FormatSink* sink) { deliver(static_cast<Harness*>(sink->state), &sink->ch, 1); }
void putRun(FormatSink* sink, const char* text, unsigned count) {
  deliver(static_cast<Harness*>(sink->state), text, count);
}

void passOnChunk(ChunkCollector* chunks) {
  deliver(static_cast<Harness*>(chunks->owner), chunks->text, chunks->size);
}

const int storeTarget = 0;  // read-only: a store through "%n" would fault

// Runs the step's directive over a list that holds the given arguments only.
// The sink's list is the run's own again after, for endFormatRun.
void runDirectiveWith(FormatSink* sink, const FormatStep* step, ...) {
  va_list given;
  va_start(given, step);
  va_end(sink->args);
  va_copy(sink->args, given);
  runDirective(sink, step);
  va_end(sink->args);
  va_end(given);
  va_copy(sink->args, *static_cast<const Harness*>(sink->state)->runList);
}

// The directive's "*" numbers, then its argument.
template <typename T>
void runDirectiveOn(FormatSink* sink, const FormatStep* step, T argument) {
  const Harness* h = static_cast<const Harness*>(sink->state);
  switch (__builtin_popcount(step->stars)) {
    case 0: return runDirectiveWith(sink, step, argument);
    case 1: return runDirectiveWith(sink, step, h->stars[0], argument);
    default: return runDirectiveWith(sink, step, h->stars[0], h->stars[1], argument);
  }
}

// Text of a chosen length in units of 8 or 16 bits, ending in a zero unit;
// the unit values come from the pool and may end the text earlier.
void* makeText(Harness* h, bool wide) {
  const size_t length = takeByte(h) % 64;
  const size_t unit = wide ? 2 : 1;
  uint8_t* text = static_cast<uint8_t*>(std::malloc((length + 1) * unit));
  for (size_t i = 0; i < length * unit; ++i) text[i] = takeByte(h);
  std::memset(text + length * unit, 0, unit);
  return text;
}

// The precision the directive runs with, "*" taken into account.
unsigned precisionOf(const Harness* h, const FormatStep* step) {
  if (!(step->stars & StarPrecision)) return step->precision;
  return static_cast<uint16_t>(h->stars[(step->stars & StarWidth) ? 1 : 0]);
}

void runFuzzedDirective(FormatSink* sink, const FormatStep* step) {
  Harness* h = static_cast<Harness*>(sink->state);
  switch (step->kind) {
    case StepKind::TextOnly:
      return;
    case StepKind::PlainInteger:
    case StepKind::Integer:
      if (step->flags & Int64Arg) return runDirectiveOn(sink, step, static_cast<long long>(takeBits(h)));
      return runDirectiveOn(sink, step, static_cast<int>(takeBits(h)));
    case StepKind::Character:
    case StepKind::PrintableCharacter:
      return runDirectiveOn(sink, step, static_cast<int>(takeBits(h)));
    case StepKind::Float: {
      const uint64_t bits = takeBits(h);
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return runDirectiveOn(sink, step, value);
    }
    case StepKind::PlainText:
    case StepKind::PlainEscapedText:
    case StepKind::Text:
    case StepKind::EscapedText: {
      void* text = takeByte(h) % 8 == 0 ? nullptr : makeText(h, step->flags & WideChars);
      runDirectiveOn(sink, step, text);
      std::free(text);
      return;
    }
    case StepKind::Dump:
    case StepKind::DumpWithCharacters: {
      if (takeByte(h) % 8 == 0)  // a null pointer, which a host may pass too
        return runDirectiveOn(sink, step, static_cast<const void*>(nullptr));
      const unsigned precision = precisionOf(h, step);
      const size_t count = precision == NoPrecision ? 16 : precision;
      uint8_t* bytes = static_cast<uint8_t*>(std::malloc(count ? count : 1));
      for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 37);
      runDirectiveOn(sink, step, bytes);
      std::free(bytes);
      return;
    }
    case StepKind::SkippedPointer:
      return runDirectiveOn(sink, step, &storeTarget);
    case StepKind::Percent:
    case StepKind::Unknown:
      return runDirectiveOn(sink, step, 0);  // takes no argument
  }
}

// Runs the format from the harness's first argument on, one character at a
// time or, when chunked, through the collector; the last piece is finished
// here as the destinations finish it. With a null list there is no argument
// list and the format is copied as plain text.
void runOnce(Harness* h, bool chunked, const char* format, va_list* list) {
  h->next = h->firstArgument;
  h->runList = list;
  FormatSink sink;
  if (chunked) {
    h->chunks.fill = 0;
    beginChunkedRun(&sink, format, list, &h->chunks);
  } else {
    beginFormatRun(&sink, format, list, putCharacter, h);
    sink.putRun = putRun;
  }
  runFormatWith(&sink, runFuzzedDirective);
  // Every run ends on the format's terminating zero, also inside a directive.
  if (sink.format != format + std::strlen(format)) __builtin_trap();
  endFormatRun(&sink);
  if (chunked) deliver(h, h->chunks.text, h->chunks.fill);
}

// With an argument list of no arguments: each directive gets its own.
void runWithArguments(Harness* h, bool chunked, const char* format, ...) {
  va_list list;
  va_start(list, format);
  runOnce(h, chunked, format, &list);
  va_end(list);
}

// Runs an input one character at a time, then chunked, checking the chunked
// output against the first; returns the output.
template <typename RunOnce>
std::string outputBothWays(Harness* h, RunOnce runOnce) {
  std::string oracle;
  h->output = &oracle;
  h->expected = nullptr;
  runOnce(false);
  h->expected = &oracle;
  h->checked = 0;
  runOnce(true);
  if (h->checked != oracle.size()) __builtin_trap();
  return oracle;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness h{};
  std::memcpy(h.pool, data, size < PoolSize ? size : PoolSize);
  const size_t formatSize = size > PoolSize ? size - PoolSize : 0;
  char* format = static_cast<char*>(std::malloc(formatSize + 1));
  if (formatSize) std::memcpy(format, data + PoolSize, formatSize);
  format[formatSize] = '\0';

  h.stars[0] = starValue(&h);
  h.stars[1] = starValue(&h);
  h.firstArgument = h.next;
  const uint16_t chunkSize = static_cast<uint16_t>(h.pool[0] + 1);
  h.chunks = ChunkCollector{static_cast<char*>(std::malloc(chunkSize)), chunkSize, 0, passOnChunk, &h};

  outputBothWays(&h, [&](bool chunked) { runWithArguments(&h, chunked, format); });
  // Without an argument list the output is the format itself.
  if (outputBothWays(&h, [&](bool chunked) { runOnce(&h, chunked, format, nullptr); }) != format)
    __builtin_trap();

  std::free(h.chunks.text);
  std::free(format);
  return 0;
}
