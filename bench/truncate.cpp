// The once-per-load size cap on a protocol file of 6,000,000 bytes against
// copying the same file with cp, both in real time (cp runs as a process of
// its own, whose CPU time is not this process's). Before each of our runs
// the file is restored from a template, outside the timing; after the loop
// the file must have been cut.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "goals.h"
#include "protocol/protocol.h"
#include "scratch.h"

extern char** environ;

namespace trovex {

namespace {

constexpr uint32_t FileBytes = 6000000;

// Lines of 80 bytes, a form feed line every 1,000 lines: a file that the
// default limits (5,000,000, keeping 1,000,000) cut near its end.
std::string templateFile() {
  const std::string name = scratchFile("trovex-bench-truncate-template.txt");
  FILE* file = std::fopen(name.c_str(), "wb");
  char line[81];
  for (uint32_t written = 0, n = 0; written < FileBytes; written += 80, ++n) {
    std::snprintf(line, sizeof line, "%c%-78u\n", n % 1000 == 0 ? '\f' : 'L', n);
    std::fwrite(line, 1, 80, file);
  }
  std::fclose(file);
  return name;
}

void TruncateFile(benchmark::State& state) {
  const std::string source = templateFile();
  const std::string name = scratchFile("trovex-bench-truncate.txt");
  ProtocolFile file{};
  initProtocolFile(&file);
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::copy_file(source, name, std::filesystem::copy_options::overwrite_existing);
    state.ResumeTiming();
    truncateProtocolFile(&file, name.c_str());
  }
  if (std::filesystem::file_size(name) >= FileBytes) state.SkipWithError("the file was not cut");
  std::filesystem::remove(name);
  std::filesystem::remove(source);
}
BENCHMARK(TruncateFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void CopyWithCp(benchmark::State& state) {
  const std::string source = templateFile();
  const std::string name = scratchFile("trovex-bench-cp.txt");
  char* arguments[] = {const_cast<char*>("cp"), const_cast<char*>(source.c_str()), const_cast<char*>(name.c_str()),
                       nullptr};
  for (auto _ : state) {
    pid_t child;
    int status = 0;
    if (posix_spawnp(&child, "cp", nullptr, nullptr, arguments, environ) != 0 || waitpid(child, &status, 0) < 0 ||
        status != 0) {
      state.SkipWithError("cp failed");
      break;
    }
  }
  std::filesystem::remove(name);
  std::filesystem::remove(source);
}
BENCHMARK(CopyWithCp)->Unit(benchmark::kMillisecond)->UseRealTime();

const bool registered =
    addGoal({"truncation of 6,000,000 bytes / cp of the file (real time)", "TruncateFile/real_time", "CopyWithCp/real_time",
             RatioKind::Wall, 3.0});

}  // namespace

}  // namespace trovex
