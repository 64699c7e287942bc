// What a host pays for a whole call: the shared library, loaded as a host
// loads it, called through the public header's exports, beside each peer set
// up as its own users set it up:
// - a six-directive message into the host's callback, which copies what it
//   gets, against vsnprintf and {fmt}'s format_to_n into a buffer followed by
//   one call of the same callback with the text;
// - keep-open and close-after messages into the protocol file, against
//   spdlog's basic file sink ("%v") and a FILE* opened, appended to and
//   closed per message (the peers of protocol.cpp);
// - a message its category stops, against a spdlog logger whose level is off
//   (stopped.cpp's peer);
// - the debug channel on standard error (on /dev/null), against spdlog's
//   standard-error sink (channel.cpp's peer);
// - one, two and eight threads into one keep-open file, against spdlog's
//   thread-safe file sink, in throughput over one thread's;
// - eight threads into the callback, against a spdlog logger whose
//   std::mutex sink hands the message to the same callback unformatted.
// The library is this build's libtrovex.so, opened with dlopen; its exports
// are called through pointers of the header's types, as the header's own
// Trovex_Printf and Trovex_CPrintf call them. Its state is its own, apart
// from the library objects the other benchmarks link.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "goals.h"
#include "scratch.h"
#include "six_directives.h"
#include "trovex.h"

namespace trovex {

namespace {

// The exports a host calls, from the shared library.
struct Library {
  bool loaded;
  decltype(&Trovex_VPrintf_ssss) vprintf;
  decltype(&Trovex_VCPrintf_ssss) vcprintf;
  decltype(&Trovex_Func_i) setCallback;
  decltype(&Trovex_EnableOutput_ii) enableOutput;
  decltype(&Trovex_Filename_s) setFileName;
  decltype(&Trovex_FileOpenMode_s) setOpenMode;
  decltype(&Trovex_WarnState_i) warnState;
};

template <typename Function>
void resolve(void* handle, const char* name, Function* function, bool* loaded) {
  *function = reinterpret_cast<Function>(dlsym(handle, name));
  *loaded = *loaded && *function;
}

const Library& library() {
  static const Library loaded = [] {
    Library l{};
    void* handle = dlopen(TROVEX_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    l.loaded = handle != nullptr;
    if (!handle) return l;
    resolve(handle, "Trovex_VPrintf_ssss", &l.vprintf, &l.loaded);
    resolve(handle, "Trovex_VCPrintf_ssss", &l.vcprintf, &l.loaded);
    resolve(handle, "Trovex_Func_i", &l.setCallback, &l.loaded);
    resolve(handle, "Trovex_EnableOutput_ii", &l.enableOutput, &l.loaded);
    resolve(handle, "Trovex_Filename_s", &l.setFileName, &l.loaded);
    resolve(handle, "Trovex_FileOpenMode_s", &l.setOpenMode, &l.loaded);
    resolve(handle, "Trovex_WarnState_i", &l.warnState, &l.loaded);
    return l;
  }();
  return loaded;
}

// The header's Trovex_Printf and Trovex_CPrintf, over the loaded library.
template <bool keepOpen>
int hostMessage(const char* type, const char* id, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = (keepOpen ? library().vcprintf : library().vprintf)(type, id, format, args);
  va_end(args);
  return result;
}
constexpr auto& hostPrintf = hostMessage<false>;
constexpr auto& hostCPrintf = hostMessage<true>;

// The state a benchmark starts from: the debug channel off, no callback, and
// the protocol file on with no name, so that it writes nothing until a
// benchmark names one.
void quietLibrary() {
  const Library& l = library();
  l.enableOutput(1, 0);
  l.enableOutput(2, 1);
  l.setFileName(nullptr);
  l.setOpenMode(nullptr);
  l.setCallback(nullptr);
  l.warnState(1);
}

bool ready(benchmark::State& state) {
  if (library().loaded) return true;
  state.SkipWithError("the shared library could not be loaded");
  return false;
}

// ---- A six-directive message into the host's callback ----


// The host's buffer: the text of the message's data calls.
struct Received {
  char text[1024];
  size_t length;
};
Received received;

void TROVEX_CALL copyText(const char* label, const char* id, const char* data, int length) {
  if (label || id) received.length = 0;  // a header call starts a message
  if (!data) return;
  const size_t room = sizeof received.text - received.length;
  const size_t n = static_cast<size_t>(length) < room ? static_cast<size_t>(length) : room;
  std::memcpy(received.text + received.length, data, n);
  received.length += n;
}

// The callback as a host hands it over: through a pointer.
MessageCallback hostCallback = copyText;

template <typename Message>
void callbackMessages(benchmark::State& state, Message message) {
  received.length = 0;
  for (auto _ : state) {
    message();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(received.length));
}

void HostCallbackMessage(benchmark::State& state) {
  if (!ready(state)) return;
  quietLibrary();
  library().enableOutput(2, 0);
  library().setCallback(copyText);
  callbackMessages(state, [] { hostPrintf("w", "NET", engineFormat, label, bytes, address, slot, fileName, mode); });
  quietLibrary();
  if (received.length != sizeof engineMessageText - 1 ||
      std::memcmp(received.text, engineMessageText, received.length) != 0)
    state.SkipWithError("the callback did not receive the message");
}
BENCHMARK(HostCallbackMessage);

void HostVsnprintfCallback(benchmark::State& state) {
  char buffer[1024];
  callbackMessages(state, [&] {
    const int n = std::snprintf(buffer, sizeof buffer, libcFormat, label, bytes, address, slot, fileName, mode);
    benchmark::DoNotOptimize(hostCallback);
    hostCallback(nullptr, nullptr, buffer, n);
  });
}
BENCHMARK(HostVsnprintfCallback);

void HostFmtCallback(benchmark::State& state) {
  char buffer[1024];
  callbackMessages(state, [&] {
    const auto result = fmt::format_to_n(buffer, sizeof buffer, "{}: wrote {} bytes to {:#x}, slot {:5}, file {}, mode {}\n",
                                         label, bytes, address, slot, fileName, static_cast<char>(mode));
    benchmark::DoNotOptimize(hostCallback);
    hostCallback(nullptr, nullptr, buffer, static_cast<int>(result.size < sizeof buffer ? result.size : sizeof buffer));
  });
}
BENCHMARK(HostFmtCallback);

// ---- The protocol file ----

constexpr const char* Id = "NET";
constexpr const char* Host = "example.org";
const char Format[] = "host %s unreachable, retry %d of %d\n";


template <bool keepOpen>
void HostProtocol(benchmark::State& state) {
  if (!ready(state)) return;
  const std::string name = scratchFile(keepOpen ? "trovex-host-keep.txt" : "trovex-host-close.txt");
  quietLibrary();
  library().setOpenMode("a");
  library().setFileName(name.c_str());
  int attempt = 0;
  for (auto _ : state) (keepOpen ? hostCPrintf : hostPrintf)("w", Id, Format, Host, ++attempt, 1000000);
  quietLibrary();
  hostPrintf(nullptr, nullptr, "");  // closes the file that keep-open messages held
  reportSize(state, name);
}
BENCHMARK(HostProtocol<true>)->Name("HostKeepOpen");
BENCHMARK(HostProtocol<false>)->Name("HostCloseAfter");


// ---- A message its category stops ----

void HostStoppedMessage(benchmark::State& state) {
  if (!ready(state)) return;
  quietLibrary();
  library().warnState(0);
  int attempt = 0;
  for (auto _ : state) benchmark::DoNotOptimize(hostPrintf("w", Id, Format, Host, ++attempt, 1000000));
  quietLibrary();
}
BENCHMARK(HostStoppedMessage);


// ---- The debug channel on standard error ----


// With no channel configured, the channel is standard error.
void HostChannelStderr(benchmark::State& state) {
  if (!ready(state)) return;
  QuietStandardError quiet;
  quietLibrary();
  library().enableOutput(2, 0);
  library().enableOutput(1, 1);
  int attempt = 0;
  for (auto _ : state) hostCPrintf("w", Id, Format, Host, ++attempt, 1000000);
  quietLibrary();
}
BENCHMARK(HostChannelStderr);


// ---- Threads ----

std::string threadsFile;

void HostFileThreads(benchmark::State& state) {
  if (!ready(state)) return;
  if (state.thread_index() == 0) {
    threadsFile = scratchFile("trovex-host-threads.txt");
    quietLibrary();
    library().setOpenMode("a");
    library().setFileName(threadsFile.c_str());
  }
  int attempt = 0;
  for (auto _ : state) hostCPrintf("w", Id, Format, Host, ++attempt, 1000000);
  if (state.thread_index() == 0) {
    quietLibrary();
    hostPrintf(nullptr, nullptr, "");
    std::filesystem::remove(threadsFile);
  }
}
BENCHMARK(HostFileThreads)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();

std::shared_ptr<spdlog::logger> threadsLogger;

void HostSpdlogFileThreads(benchmark::State& state) {
  if (state.thread_index() == 0) {
    threadsFile = scratchFile("trovex-host-spdlog-threads.txt");
    threadsLogger = std::make_shared<spdlog::logger>("threads", std::make_shared<spdlog::sinks::basic_file_sink_mt>(threadsFile));
    threadsLogger->set_pattern("%v");
  }
  int attempt = 0;
  for (auto _ : state)
    threadsLogger->warn("{}<{}>: host {} unreachable, retry {} of {}", "warn", Id, Host, ++attempt, 1000000);
  if (state.thread_index() == 0) {
    threadsLogger.reset();
    std::filesystem::remove(threadsFile);
  }
}
BENCHMARK(HostSpdlogFileThreads)->Threads(1)->Threads(2)->Threads(8)->UseRealTime();

Store store;

void TROVEX_CALL storeText(const char* label, const char* id, const char* data, int length) {
  if (label) store.add(label, std::strlen(label));
  if (id) store.add(id, std::strlen(id));
  if (data) store.add(data, static_cast<size_t>(length));
}

void HostCallbackThreads(benchmark::State& state) {
  if (!ready(state)) return;
  if (state.thread_index() == 0) {
    quietLibrary();
    library().enableOutput(2, 0);
    library().setCallback(storeText);
    store.bytes = 0;
  }
  int attempt = 0;
  for (auto _ : state) hostCPrintf("w", Id, Format, Host, ++attempt, 1000000);
  if (state.thread_index() == 0) {
    state.counters["bytes"] = static_cast<double>(store.bytes);
    quietLibrary();
  }
}
BENCHMARK(HostCallbackThreads)->Threads(8)->UseRealTime();

// A sink as a spdlog user writes one for a callback: the message's text,
// unformatted, to the callback, under the sink's std::mutex.
class CallbackSink : public spdlog::sinks::base_sink<std::mutex> {
 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    storeText(nullptr, nullptr, message.payload.data(), static_cast<int>(message.payload.size()));
  }
  void flush_() override {}
};

std::shared_ptr<spdlog::logger> callbackLogger;

void HostSpdlogCallbackThreads(benchmark::State& state) {
  if (state.thread_index() == 0) {
    callbackLogger = std::make_shared<spdlog::logger>("callback", std::make_shared<CallbackSink>());
    store.bytes = 0;
  }
  int attempt = 0;
  for (auto _ : state)
    callbackLogger->warn("warn{}host {} unreachable, retry {} of {}", Id, Host, ++attempt, 1000000);
  if (state.thread_index() == 0) {
    state.counters["bytes"] = static_cast<double>(store.bytes);
    callbackLogger.reset();
  }
}
BENCHMARK(HostSpdlogCallbackThreads)->Threads(8)->UseRealTime();

#define THREADS(name, n) name "/real_time/threads:" #n
const bool registered =
    addGoal({"host: six-directive message into the callback / vsnprintf + callback", "HostCallbackMessage",
             "HostVsnprintfCallback", RatioKind::Time, 0.8}) &&
    addGoal({"host: the same / fmt::format_to_n + callback", "HostCallbackMessage", "HostFmtCallback", RatioKind::Time,
             1.0}) &&
    addGoal({"host: keep-open message / spdlog basic_file_sink_st \"%v\" (1.25x throughput)", "HostKeepOpen",
             "SpdlogFile", RatioKind::Time, 0.8}) &&
    addGoal({"host: close-after message / fopen, fprintf, fclose", "HostCloseAfter", "FileAppendPerMessage",
             RatioKind::Time, 0.9}) &&
    addGoal({"host: stopped message / spdlog, level off", "HostStoppedMessage", "SpdlogLevelOff", RatioKind::Time,
             0.5}) &&
    addGoal({"host: channel on standard error / spdlog stderr sink", "HostChannelStderr", "SpdlogStderr",
             RatioKind::Time, 0.8}) &&
    addGoal({"host: two threads into one file / one thread (throughput)", THREADS("HostFileThreads", 2),
             THREADS("HostFileThreads", 1), RatioKind::Throughput, 0.9}) &&
    addGoal({"host: eight threads into one file / one thread (throughput)", THREADS("HostFileThreads", 8),
             THREADS("HostFileThreads", 1), RatioKind::Throughput, 0.9}) &&
    addGoal({"  spdlog: eight threads into one file / one thread (throughput)", THREADS("HostSpdlogFileThreads", 8),
             THREADS("HostSpdlogFileThreads", 1), RatioKind::Throughput, 0}) &&
    addGoal({"  spdlog: two threads into one file / one thread (throughput)", THREADS("HostSpdlogFileThreads", 2),
             THREADS("HostSpdlogFileThreads", 1), RatioKind::Throughput, 0}) &&
    addGoal({"host: eight threads into the callback / spdlog callback sink (throughput)",
             THREADS("HostCallbackThreads", 8), THREADS("HostSpdlogCallbackThreads", 8), RatioKind::Throughput, 1.2}) &&
    addGoal({"host: the same, CPU per message", THREADS("HostCallbackThreads", 8),
             THREADS("HostSpdlogCallbackThreads", 8), RatioKind::Time, 1.0});

}  // namespace

}  // namespace trovex
