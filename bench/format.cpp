// The format engine against the C library's vsnprintf and {fmt}'s
// format_to_n, side by side in one run, both storing the message in a buffer. The message is a realistic one
// with six directives: text, a grouped 64-bit number, hexadecimal with "#", a
// padded decimal, escaped text and a character. The engine runs on the path
// every destination gets its text by: a message is formatted once into a
// 1024-byte array on the stack (the chunk collector as the engine's window),
// and the host's callback is then handed it in pieces of at most 96 bytes
// through a pointer, each of which it copies into its own buffer, as a
// host's callback copies what it is given. vsnprintf writes the closest
// standard format into a buffer of the same size. Each case checks after its
// loop that the buffer holds the expected text. The last lines printed are
// the ratios of the two times per message, for the whole message and for a
// breakdown into its plain text and its integer directives.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "format/format.h"
#include "goals.h"
#include "six_directives.h"

namespace trovex {

namespace {


// The buffer a message ends up in.
struct Destination {
  char text[256];
  size_t length;
};

using StorePiece = void (*)(Destination* destination, const char* text, unsigned count);

void storePiece(Destination* destination, const char* text, unsigned count) {
  const size_t room = sizeof destination->text - destination->length;
  const size_t n = count < room ? count : room;
  std::memcpy(destination->text + destination->length, text, n);
  destination->length += n;
}

constexpr uint16_t PreparedSize = 1024;
constexpr unsigned CallbackPieceSize = 96;

// The message's text before the destinations get it.
struct PreparedText {
  ChunkCollector chunks;
  bool tooLong;
  char text[PreparedSize];
};

void markTooLong(ChunkCollector* chunks) { static_cast<PreparedText*>(chunks->owner)->tooLong = true; }

size_t engineMessage(Destination* destination, const char* format, ...) {
  PreparedText prepared;
  prepared.chunks = ChunkCollector{prepared.text, PreparedSize, 0, markTooLong, &prepared};
  prepared.tooLong = false;
  va_list args;
  va_start(args, format);
  FormatSink sink;
  beginChunkedRun(&sink, format, &args, &prepared.chunks);
  formatToSink(&sink);
  endFormatRun(&sink);
  va_end(args);
  if (prepared.tooLong) return 0;
  // The library knows its callback only as a pointer; so does this code.
  StorePiece store = storePiece;
  benchmark::DoNotOptimize(store);
  destination->length = 0;
  const char* text = prepared.text;
  unsigned count = prepared.chunks.fill;
  for (; count > CallbackPieceSize; text += CallbackPieceSize, count -= CallbackPieceSize)
    store(destination, text, CallbackPieceSize);
  if (count > 0) store(destination, text, count);
  return destination->length;
}

size_t libcMessage(Destination* destination, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(destination->text, sizeof destination->text, format, args);
  va_end(args);
  destination->length = n < 0 ? 0 : static_cast<size_t>(n);
  return destination->length;
}

// Runs one message per iteration, then checks what was stored.
template <typename Message>
void measure(benchmark::State& state, const char* expected, Message message) {
  Destination destination{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(message(&destination));
    benchmark::ClobberMemory();
  }
  if (std::string(destination.text, destination.length) != expected)
    state.SkipWithError("the stored message is not the expected text");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(destination.length));
}

void Engine(benchmark::State& state) {
  measure(state, engineMessageText, [](Destination* d) {
    return engineMessage(d, engineFormat, label, bytes, address, slot, fileName, mode);
  });
}
BENCHMARK(Engine);

void Vsnprintf(benchmark::State& state) {
  measure(state, libcMessageText, [](Destination* d) {
    return libcMessage(d, libcFormat, label, bytes, address, slot, fileName, mode);
  });
}
BENCHMARK(Vsnprintf);

// {fmt}'s format_to_n into the same buffer, with the closest format of its
// own language; the arguments are checked at compile time, not parsed from a list.
void FmtFormatToN(benchmark::State& state) {
  measure(state, libcMessageText, [](Destination* d) {
    const auto result = fmt::format_to_n(d->text, sizeof d->text, "{}: wrote {} bytes to {:#x}, slot {:5}, file {}, mode {}\n",
                                         label, bytes, address, slot, fileName, static_cast<char>(mode));
    d->length = result.size < sizeof d->text ? result.size : sizeof d->text;
    return d->length;
  });
}
BENCHMARK(FmtFormatToN);

// Where the time goes: the engine's output as plain text only (no directive),
// and the integer directives alone.
void EnginePlainText(benchmark::State& state) {
  measure(state, engineMessageText, [](Destination* d) { return engineMessage(d, engineMessageText); });
}
BENCHMARK(EnginePlainText);

void VsnprintfPlainText(benchmark::State& state) {
  measure(state, engineMessageText, [](Destination* d) { return libcMessage(d, engineMessageText); });
}
BENCHMARK(VsnprintfPlainText);

void EngineIntegers(benchmark::State& state) {
  measure(state, "1.234.567.890.1230x7ffe1234   42",
          [](Destination* d) { return engineMessage(d, "%LU%#x%5d", bytes, address, slot); });
}
BENCHMARK(EngineIntegers);

void VsnprintfIntegers(benchmark::State& state) {
  measure(state, "12345678901230x7ffe1234   42",
          [](Destination* d) { return libcMessage(d, "%llu%#x%5d", bytes, address, slot); });
}
BENCHMARK(VsnprintfIntegers);

const bool registered = addGoal({"format: six-directive message / vsnprintf", "Engine", "Vsnprintf", RatioKind::Time, 0.5}) &&
                        addGoal({"format: six-directive message / fmt::format_to_n", "Engine", "FmtFormatToN", RatioKind::Time, 0.8}) &&
                        addGoal({"format: its plain text / vsnprintf", "EnginePlainText", "VsnprintfPlainText", RatioKind::Time, 0}) &&
                        addGoal({"format: its integers / vsnprintf", "EngineIntegers", "VsnprintfIntegers", RatioKind::Time, 0});

}  // namespace

}  // namespace trovex
