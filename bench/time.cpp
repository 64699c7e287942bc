// The time stamp's text, side by side in one run: breakDownTime and
// formatTime against the C library's gmtime_r and strftime, both with the
// format "%A %d-%b-%Y %T" into a 128-byte buffer on the stack that each
// keeps. Both step through the same 4096 times, 7919 seconds apart from
// 2007-03-27 14:05:09, so that every field changes.
#include <benchmark/benchmark.h>

#include <ctime>

#include "goals.h"
#include "time/time.h"

namespace trovex {

namespace {

const char timeFormat[] = "%A %d-%b-%Y %T";
constexpr int64_t StartSeconds = 1175004309;  // 2007-03-27 14:05:09 since 1970
constexpr uint64_t SecondsFrom1601To1970 = 11644473600ull;
constexpr int64_t Step = 7919;
constexpr unsigned TimesMask = 4095;

void TimeText(benchmark::State& state) {
  unsigned i = 0;
  for (auto _ : state) {
    const int64_t seconds = StartSeconds + (i++ & TimesMask) * Step;
    const uint64_t ticks = (static_cast<uint64_t>(seconds) + SecondsFrom1601To1970) * TicksPerSecond;
    BrokenDownTime time;
    char buffer[128];
    benchmark::DoNotOptimize(formatTime(buffer, sizeof buffer, timeFormat, breakDownTime(&ticks, &time)));
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(TimeText);

void Strftime(benchmark::State& state) {
  unsigned i = 0;
  for (auto _ : state) {
    const time_t seconds = static_cast<time_t>(StartSeconds + (i++ & TimesMask) * Step);
    struct tm time;
    char buffer[128];
    benchmark::DoNotOptimize(std::strftime(buffer, sizeof buffer, timeFormat, gmtime_r(&seconds, &time)));
    benchmark::DoNotOptimize(buffer);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Strftime);

const bool registered = addGoal({"time: breakDownTime + formatTime / gmtime_r + strftime", "TimeText", "Strftime", RatioKind::Time, 1.0});

}  // namespace

}  // namespace trovex
