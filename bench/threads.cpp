// Messages from several threads at once, in real time per message over all
// threads (Google Benchmark divides the wall time by every thread's
// iterations), so the ratios are ratios of throughput:
// - keep-open messages into one protocol file from two threads against the
//   same from one thread;
// - eight threads into the host's callback against eight threads into a
//   spdlog logger whose sink is guarded by a std::mutex. Both receivers
//   copy the text they are handed into one shared buffer and count its
//   bytes; the counts are reported to show that both store the same text.
#include <benchmark/benchmark.h>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "dispatch/emit.h"
#include "goals.h"
#include "scratch.h"

namespace trovex {

namespace {

constexpr const char* Id = "NET";
constexpr const char* Host = "example.org";
const char Format[] = "host %s unreachable, retry %d of %d\n";

BenchOutput shared;
std::string sharedName;

// Keep-open messages into one protocol file, the file the only destination.
void ProtocolThreads(benchmark::State& state) {
  if (state.thread_index() == 0) {
    sharedName = scratchFile("trovex-bench-threads.txt");
    shared.open();
    setOpenMode(&shared.protocol, "a");
    setFileName(&shared.protocol, sharedName.c_str());
  }
  int attempt = 0;
  for (auto _ : state) printKeepOpen(&shared.context, "w", Id, Format, Host, ++attempt, 1000000);
  if (state.thread_index() == 0) {
    shared.close();
    std::filesystem::remove(sharedName);
  }
}
BENCHMARK(ProtocolThreads)->Name("ProtocolThreads")->Threads(1)->Threads(2)->UseRealTime();

Store callbackStore, spdlogStore;

// Runs under the message lock, so the store needs no lock of its own.
void TROVEX_CALL storeText(const char* label, const char* id, const char* data, int length) {
  if (label) callbackStore.add(label, std::strlen(label));
  if (id) callbackStore.add(id, std::strlen(id));
  if (data) callbackStore.add(data, static_cast<size_t>(length));
}

void CallbackThreads(benchmark::State& state) {
  if (state.thread_index() == 0) {
    shared.open();
    setProtocolEnabled(&shared.context, false);
    setCallback(&shared.context, storeText);
    callbackStore.bytes = 0;
  }
  int attempt = 0;
  for (auto _ : state) printKeepOpen(&shared.context, "w", Id, Format, Host, ++attempt, 1000000);
  if (state.thread_index() == 0) {
    state.counters["bytes"] = static_cast<double>(callbackStore.bytes);
    shared.close();
  }
}
BENCHMARK(CallbackThreads)->Threads(8)->UseRealTime();

// spdlog's sinks lock a mutex of their own around the formatting and the write.
class StoreSink : public spdlog::sinks::base_sink<std::mutex> {
 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    spdlog::memory_buf_t formatted;
    formatter_->format(message, formatted);
    spdlogStore.add(formatted.data(), formatted.size());
  }
  void flush_() override {}
};

std::shared_ptr<spdlog::logger> sharedLogger;

void SpdlogSinkThreads(benchmark::State& state) {
  if (state.thread_index() == 0) {
    sharedLogger = std::make_shared<spdlog::logger>("store", std::make_shared<StoreSink>());
    sharedLogger->set_pattern("%v");
    spdlogStore.bytes = 0;
  }
  int attempt = 0;
  for (auto _ : state) sharedLogger->warn("warn{}host {} unreachable, retry {} of {}", Id, Host, ++attempt, 1000000);
  if (state.thread_index() == 0) {
    state.counters["bytes"] = static_cast<double>(spdlogStore.bytes);
    sharedLogger.reset();
  }
}
BENCHMARK(SpdlogSinkThreads)->Threads(8)->UseRealTime();

const bool registered =
    addGoal({"threads: two into one file / one thread (throughput)", "ProtocolThreads/real_time/threads:2",
             "ProtocolThreads/real_time/threads:1", RatioKind::Throughput, 0.9}) &&
    addGoal({"threads: eight into the callback / spdlog mutex sink (throughput)", "CallbackThreads/real_time/threads:8",
             "SpdlogSinkThreads/real_time/threads:8", RatioKind::Throughput, 1.2});

}  // namespace

}  // namespace trovex
