// Messages through the debug channel, the channel the only destination, on
// the whole message path (filter, header, lock, device), side by side with
// spdlog writing the same text the way a log call writes it there:
// - the channel on a file (type 2) against spdlog's basic file sink flushed
//   after every message; both files are checked to be the same size;
// - the channel on standard error (type 1) against spdlog's standard-error
//   sink, which writes and flushes each message. Standard error points at
//   /dev/null while either side runs.
#include <benchmark/benchmark.h>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "debugchannel/device.h"
#include "goals.h"
#include "scratch.h"

namespace trovex {

namespace {

constexpr const char* Id = "NET";
constexpr const char* Host = "example.org";
const char Format[] = "host %s unreachable, retry %d of %d\n";

// The process's channel, configured as the registry would configure it,
// without the registry; `path` is used for a file device.
void configureChannel(uint32_t type, const std::string& path) {
  EnterCriticalSection(&debugChannel.channelLock);
  if (debugChannel.deviceHandle) CloseHandle(debugChannel.deviceHandle);
  debugChannel.deviceHandle = nullptr;
  debugChannel.stderrHandle = nullptr;
  debugChannel.configLoaded = true;
  debugChannel.channelType = type;
  debugChannel.pathSet = !path.empty();
  std::snprintf(debugChannel.pathValue, sizeof debugChannel.pathValue, "%s", path.c_str());
  LeaveCriticalSection(&debugChannel.channelLock);
}

// Keep-open messages whose only destination is the channel.
void channelMessages(benchmark::State& state) {
  BenchOutput out;
  out.open();
  out.context.atLineStart = 1;
  setChannelEnabled(&out.context, true);
  setProtocolEnabled(&out.context, false);
  int attempt = 0;
  for (auto _ : state) printKeepOpen(&out.context, "w", Id, Format, Host, ++attempt, 1000000);
  out.close();
}

void spdlogMessages(benchmark::State& state, spdlog::logger& logger) {
  logger.set_pattern("%v");
  int attempt = 0;
  for (auto _ : state) {
    logger.warn("{}<{}>: host {} unreachable, retry {} of {}", "warn", Id, Host, ++attempt, 1000000);
    logger.flush();
  }
}

void ChannelFile(benchmark::State& state) {
  const std::string name = scratchFile("trovex-bench-channel.txt");
  configureChannel(FileDevice, name);
  channelMessages(state);
  configureChannel(StderrDevice, "");
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(name));
  std::filesystem::remove(name);
}

void SpdlogFileFlushed(benchmark::State& state) {
  const std::string name = scratchFile("trovex-bench-spdlog-flushed.txt");
  {
    spdlog::logger logger("bench", std::make_shared<spdlog::sinks::basic_file_sink_mt>(name));
    spdlogMessages(state, logger);
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(name));
  std::filesystem::remove(name);
}


void ChannelStderr(benchmark::State& state) {
  QuietStandardError quiet;
  configureChannel(StderrDevice, "");
  channelMessages(state);
}

void SpdlogStderr(benchmark::State& state) {
  QuietStandardError quiet;
  spdlog::logger logger("stderr", std::make_shared<spdlog::sinks::stderr_sink_mt>());
  spdlogMessages(state, logger);
}

BENCHMARK(ChannelFile);
BENCHMARK(SpdlogFileFlushed);
BENCHMARK(ChannelStderr);
BENCHMARK(SpdlogStderr);

const bool registered =
    addGoal({"channel: file message / spdlog file sink, flushed", "ChannelFile", "SpdlogFileFlushed", RatioKind::Time, 1.0}) &&
    addGoal({"channel: standard-error message / spdlog stderr sink", "ChannelStderr", "SpdlogStderr", RatioKind::Time, 1.0});

}  // namespace

}  // namespace trovex
