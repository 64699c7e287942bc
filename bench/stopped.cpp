// A message the filter stops, through the export a host calls, side by side
// with what the cheapest guard of a log call costs elsewhere: an uncontended
// std::mutex lock and unlock, and a spdlog logger whose level is off. Both
// our side and spdlog's are handed the same five arguments.
#include <benchmark/benchmark.h>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <mutex>

#include "goals.h"
#include "trovex.h"

namespace trovex {

namespace {

constexpr const char* Id = "NET";
constexpr const char* Host = "example.org";

void StoppedMessage(benchmark::State& state) {
  const int saved = Trovex_WarnState_i(0);
  int attempt = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(Trovex_Printf("w", Id, "host %s unreachable, retry %d of %d\n", Host, ++attempt, 1000000));
  Trovex_WarnState_i(saved);
}
BENCHMARK(StoppedMessage);

void MutexLockUnlock(benchmark::State& state) {
  std::mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    benchmark::ClobberMemory();
    mutex.unlock();
  }
}
BENCHMARK(MutexLockUnlock);

void SpdlogLevelOff(benchmark::State& state) {
  spdlog::logger logger("off", std::make_shared<spdlog::sinks::null_sink_mt>());
  logger.set_level(spdlog::level::off);
  int attempt = 0;
  for (auto _ : state) {
    logger.warn("{}<{}>: host {} unreachable, retry {} of {}", "warn", Id, Host, ++attempt, 1000000);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(SpdlogLevelOff);

const bool registered =
    addGoal({"stopped message / std::mutex lock+unlock", "StoppedMessage", "MutexLockUnlock", RatioKind::Time, 2.0}) &&
    addGoal({"stopped message / spdlog, level off", "StoppedMessage", "SpdlogLevelOff", RatioKind::Time, 0.8});

}  // namespace

}  // namespace trovex
