// The format engine against the C library's vsnprintf, side by side in one
// run, on a realistic message with six directives: text, a grouped 64-bit
// number, hexadecimal with "#", a padded decimal, escaped text and a
// character. The engine hands every character to an output function that
// discards it (one call per character, as every destination gets them);
// vsnprintf writes the closest standard format into a stack buffer. The last
// line printed is the ratio of the two times per message.
//
//   build/native/bin/bench_format [--benchmark_repetitions=5 ...]
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "format/format.h"
#include "ratio_reporter.h"

namespace {

const char engineFormat[] = "%s: wrote %LU bytes to %#x, slot %5d, file %S, mode %c\n";
const char libcFormat[] = "%s: wrote %llu bytes to %#x, slot %5d, file %s, mode %c\n";
const char label[] = "protocol";
const unsigned long long bytes = 1234567890123ULL;
const unsigned address = 0x7ffe1234u;
const int slot = 42;
const char fileName[] = "c:\\tmp\\trovex.log";
const int mode = 'w';

// The engine cannot see through the output function's pointer, so the call
// happens for every character even though it does nothing.
void discard(FormatSink*) {}

void discardRun(FormatSink*, const char*, unsigned) {}

// With takeRuns the output function also takes runs of plain characters at
// once, as the stream destination's does.
const char* runMessage(bool takeRuns, const char* format, va_list* args) {
  FormatSink sink;
  beginFormatRun(&sink, format, args, discard, nullptr);
  if (takeRuns) sink.putRun = discardRun;
  formatToSink(&sink);
  endFormatRun(&sink);
  return sink.format;
}

const char* engineRunsMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const char* end = runMessage(true, format, &args);
  va_end(args);
  return end;
}

const char* engineMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const char* end = runMessage(false, format, &args);
  va_end(args);
  return end;
}

int libcMessage(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}

void Engine(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(engineMessage(engineFormat, label, bytes, address, slot, fileName, mode));
  }
}
BENCHMARK(Engine);

void EngineRuns(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(engineRunsMessage(engineFormat, label, bytes, address, slot, fileName, mode));
  }
}
BENCHMARK(EngineRuns);

void Vsnprintf(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[256];
    benchmark::DoNotOptimize(libcMessage(buffer, sizeof buffer, libcFormat, label, bytes, address, slot, fileName, mode));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Vsnprintf);

// Where the time goes: the same characters as plain text only (the cost of
// one output call per character), and the integer directives alone.
const char plainText[] =
    "protocol: wrote 1.234.567.890.123 bytes to 0x7ffe1234, slot    42, file c:\\\\tmp\\\\trovex.log, mode w\n";

void EnginePlainText(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(engineMessage(plainText));
}
BENCHMARK(EnginePlainText);

void VsnprintfPlainText(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[256];
    benchmark::DoNotOptimize(libcMessage(buffer, sizeof buffer, plainText));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(VsnprintfPlainText);

// The floor under any engine that makes one output call per character: the
// calls alone, for the characters of the message.
void OutputCallsOnly(benchmark::State& state) {
  FormatSink sink{};
  sink.put = discard;
  for (auto _ : state) {
    for (const char* p = plainText; *p != '\0'; ++p) {
      sink.ch = *p;
      sink.put(&sink);
    }
    benchmark::ClobberMemory();
  }
}
BENCHMARK(OutputCallsOnly);

void EngineIntegers(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(engineMessage("%LU%#x%5d", bytes, address, slot));
}
BENCHMARK(EngineIntegers);

void VsnprintfIntegers(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[256];
    benchmark::DoNotOptimize(libcMessage(buffer, sizeof buffer, "%llu%#x%5d", bytes, address, slot));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(VsnprintfIntegers);

}  // namespace

int main(int argc, char** argv) {
  RatioReporter reporter;
  if (!runBenchmarks(argc, argv, &reporter)) return 1;
  for (const char* pair : {"", "PlainText", "Integers", "Runs"}) {
    const std::string libc = std::string("Vsnprintf") + (std::string(pair) == "Runs" ? "" : pair);
    reporter.printRatio(std::string("Engine") + pair, libc, "message");
  }
  return 0;
}
