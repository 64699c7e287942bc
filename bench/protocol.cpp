// Messages into the protocol file, the protocol file the only destination,
// side by side with a peer that keeps the same text in a file the same way:
// - keep-open messages against spdlog's basic file sink (pattern "%v", one
//   thread), both leaving the file open and buffered;
// - close-after messages against opening, appending to and closing a FILE*
//   per message.
// Both sides of each pair write the same bytes; the file sizes are reported
// as counters to show it.
#include <benchmark/benchmark.h>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "dispatch/emit.h"
#include "goals.h"
#include "scratch.h"

namespace trovex {

namespace {

constexpr const char* Id = "NET";
constexpr const char* Host = "example.org";


// A context whose only destination is the protocol file `name`, opened for
// appending so that the first message's header has no newline in front.
void initProtocolOnly(BenchOutput* out, const std::string& name) {
  out->open();
  out->context.atLineStart = 1;
  setOpenMode(&out->protocol, "a");
  setFileName(&out->protocol, name.c_str());
}

template <bool keepOpen>
void Protocol(benchmark::State& state) {
  const std::string name = scratchFile(keepOpen ? "trovex-bench-keep.txt" : "trovex-bench-close.txt");
  BenchOutput out;
  initProtocolOnly(&out, name);
  int attempt = 0;
  for (auto _ : state)
    (keepOpen ? printKeepOpen : printAndClose)(&out.context, "w", Id, "host %s unreachable, retry %d of %d\n", Host,
                                               ++attempt, 1000000);
  out.close();
  reportSize(state, name);
}

void ProtocolKeepOpen(benchmark::State& state) { Protocol<true>(state); }
void ProtocolCloseAfter(benchmark::State& state) { Protocol<false>(state); }

void SpdlogFile(benchmark::State& state) {
  const std::string name = scratchFile("trovex-bench-spdlog.txt");
  {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_st>(name);
    spdlog::logger logger("bench", sink);
    logger.set_pattern("%v");
    int attempt = 0;
    for (auto _ : state) logger.warn("{}<{}>: host {} unreachable, retry {} of {}", "warn", Id, Host, ++attempt, 1000000);
  }
  reportSize(state, name);
}

void FileAppendPerMessage(benchmark::State& state) {
  const std::string name = scratchFile("trovex-bench-fopen.txt");
  int attempt = 0;
  for (auto _ : state) {
    FILE* file = std::fopen(name.c_str(), "a");
    std::fprintf(file, "%s<%s>: host %s unreachable, retry %d of %d\n", "warn", Id, Host, ++attempt, 1000000);
    std::fclose(file);
  }
  reportSize(state, name);
}

BENCHMARK(ProtocolKeepOpen);
BENCHMARK(SpdlogFile);
BENCHMARK(ProtocolCloseAfter);
BENCHMARK(FileAppendPerMessage);

const bool registered =
    addGoal({"protocol: keep-open message / spdlog file sink \"%v\"", "ProtocolKeepOpen", "SpdlogFile", RatioKind::Time, 0.8}) &&
    addGoal({"protocol: close-after message / FILE* open, append, close", "ProtocolCloseAfter", "FileAppendPerMessage",
             RatioKind::Time, 0.9});

}  // namespace

}  // namespace trovex
