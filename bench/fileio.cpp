// Writing a log file: 64 MiB of 80-byte formatted lines through printStream
// into a disk stream, side by side with fprintf into a FILE* on the same kind
// of file. Each iteration opens, writes everything and closes, so the final
// flush is measured too.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "fileio/fileio.h"
#include "goals.h"
#include "scratch.h"

namespace trovex {

namespace {

constexpr int64_t TotalBytes = 64 << 20;
constexpr const char* LineFormat = "%s: %s\n";
const std::string label = "trovex<bench>";
// label + ": " + text + "\n" is 80 bytes.
const std::string text(80 - 13 - 2 - 1, 'x');

void printStreamLines(benchmark::State& state) {
  const std::string name = scratchFile("trovex-bench-stream.txt");
  const int64_t lines = TotalBytes / 80;
  for (auto _ : state) {
    Stream* stream = openStream(name.c_str(), "w");
    if (!stream) {
      state.SkipWithError("cannot open the file");
      break;
    }
    for (int64_t i = 0; i < lines; ++i) printStream(stream, LineFormat, label.c_str(), text.c_str());
    closeStream(stream);
  }
  state.SetBytesProcessed(state.iterations() * lines * 80);
  std::filesystem::remove(name);
}

void fprintfLines(benchmark::State& state) {
  const std::string name = scratchFile("trovex-bench-stdio.txt");
  const int64_t lines = TotalBytes / 80;
  for (auto _ : state) {
    FILE* file = std::fopen(name.c_str(), "wb");
    if (!file) {
      state.SkipWithError("cannot open the file");
      break;
    }
    for (int64_t i = 0; i < lines; ++i) std::fprintf(file, LineFormat, label.c_str(), text.c_str());
    std::fclose(file);
  }
  state.SetBytesProcessed(state.iterations() * lines * 80);
  std::filesystem::remove(name);
}

}  // namespace

BENCHMARK(printStreamLines)->Unit(benchmark::kMillisecond);
BENCHMARK(fprintfLines)->Unit(benchmark::kMillisecond);

namespace {
const bool registered = addGoal({"fileio: 64 MiB of lines, printStream / fprintf", "printStreamLines", "fprintfLines", RatioKind::Time, 0});
}  // namespace

}  // namespace trovex
