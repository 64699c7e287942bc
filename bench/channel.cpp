// Messages through the debug channel into a file (type 2), side by side with
// spdlog's basic file sink flushed after every message, on the same text: a
// header print and a body print per message against one formatted log call
// and a flush. Both keep every message in the file; the files are checked to
// be the same size.
// The channel writes once per print and target, so a message costs it two
// writes (header, body) where spdlog makes one.
#include <benchmark/benchmark.h>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "debugchannel/device.h"
#include "goals.h"
#include "scratch.h"

namespace {

const char* const NoFallbacks[] = {""};
const ChannelDevices BenchDevices = {"", NoFallbacks, 0};
constexpr const char* Id = "NET";
constexpr const char* Host = "example.org";

void printToChannel(DebugChannel* channel, const char* format, ...) {
  va_list args;
  va_start(args, format);
  channelPrint(channel, format, &args);
  va_end(args);
}

void ChannelFile(benchmark::State& state) {
  const std::string name = scratchFile("trovex-bench-channel.txt");
  DebugChannel channel;
  initDebugChannel(&channel, &BenchDevices);
  // Configured as the registry would configure it, without the registry.
  channel.configLoaded = true;
  channel.channelType = FileDevice;
  channel.pathSet = true;
  std::snprintf(channel.pathValue, sizeof channel.pathValue, "%s", name.c_str());
  int attempt = 0;
  for (auto _ : state) {
    printToChannel(&channel, "%s<%s>: ", "warn", Id);
    printToChannel(&channel, "host %s unreachable, retry %d of %d\n", Host, ++attempt, 1000000);
  }
  closeDebugChannel(&channel);
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(name));
  std::filesystem::remove(name);
}

void SpdlogFileFlushed(benchmark::State& state) {
  const std::string name = scratchFile("trovex-bench-spdlog-flushed.txt");
  {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(name);
    spdlog::logger logger("bench", sink);
    logger.set_pattern("%v");
    int attempt = 0;
    for (auto _ : state) {
      logger.warn("{}<{}>: host {} unreachable, retry {} of {}", "warn", Id, Host, ++attempt, 1000000);
      logger.flush();
    }
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(name));
  std::filesystem::remove(name);
}

BENCHMARK(ChannelFile);
BENCHMARK(SpdlogFileFlushed);

const bool registered = addGoal({"channel: file message / spdlog file sink, flushed", "ChannelFile", "SpdlogFileFlushed", RatioKind::Time, 0});

}  // namespace
