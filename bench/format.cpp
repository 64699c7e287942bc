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
#include <map>
#include <string>

#include "format/format.h"

namespace {

const char engineFormat[] = "%s: wrote %LU bytes to %#x, slot %5d, file %S, mode %c\n";
const char libcFormat[] = "%s: wrote %llu bytes to %#x, slot %5d, file %s, mode %c\n";
const char label[] = "protocol";
const unsigned long long bytes = 1234567890123ULL;
const unsigned address = 0x7ffe1234u;
const int slot = 42;
const char fileName[] = "c:\\tmp\\trovex.log";
const int mode = 'w';

void discard(FormatSink* sink) { ++*static_cast<size_t*>(sink->state); }

size_t engineMessage(const char* format, ...) {
  size_t produced = 0;
  va_list args;
  va_start(args, format);
  FormatSink sink;
  beginFormatRun(&sink, format, &args, discard, &produced);
  formatToSink(&sink);
  endFormatRun(&sink);
  va_end(args);
  return produced;
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

void Vsnprintf(benchmark::State& state) {
  for (auto _ : state) {
    char buffer[256];
    benchmark::DoNotOptimize(libcMessage(buffer, sizeof buffer, libcFormat, label, bytes, address, slot, fileName, mode));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Vsnprintf);

// Keeps the time per iteration of every benchmark for the closing ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) times[run.run_name.function_name] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.times.count("Engine") && reporter.times.count("Vsnprintf"))
    std::printf("engine / vsnprintf time per message: %.2f\n", reporter.times["Engine"] / reporter.times["Vsnprintf"]);
  return 0;
}
