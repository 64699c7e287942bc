// Heap allocations per message, the protocol file the only destination,
// kept open (the goal: none) and closed after each message (a stream and its
// buffer per open, shown for information): the C library's allocation functions are wrapped for the
// whole program, and the wrappers count calls while a measurement runs.
// The library's heap (HeapAlloc) and operator new both end in them here.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <string>

#include "dispatch/emit.h"
#include "goals.h"
#include "scratch.h"

namespace trovex {

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* memory, size_t size);
void __libc_free(void* memory);
}

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

inline void countOne() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}

template <bool keepOpen>
void Allocations(benchmark::State& state) {
  const std::string name = scratchFile("trovex-bench-allocations.txt");
  BenchOutput out;
  out.open();
  out.context.atLineStart = 1;
  setOpenMode(&out.protocol, "a");
  setFileName(&out.protocol, name.c_str());
  // The first message opens the file, which allocates the stream; it is not counted.
  printKeepOpen(&out.context, "w", "NET", "opened\n");
  allocations = 0;
  counting = true;
  int attempt = 0;
  for (auto _ : state) (keepOpen ? printKeepOpen : printAndClose)(&out.context, "w", "NET", "host %s unreachable, retry %d of %d\n", "example.org",
                                     ++attempt, 1000000);
  counting = false;
  state.counters["allocations_per_message"] =
      static_cast<double>(allocations.load()) / static_cast<double>(state.iterations());
  out.close();
  std::filesystem::remove(name);
}
BENCHMARK(Allocations<true>)->Name("KeepOpenAllocations");
BENCHMARK(Allocations<false>)->Name("CloseAfterAllocations");

const bool registered = addGoal({"heap allocations per keep-open message (count, no peer)", "KeepOpenAllocations", "",
                                 RatioKind::Count, 0, "allocations_per_message"}) &&
                        addGoal({"heap allocations per close-after message (count, no peer)", "CloseAfterAllocations",
                                 "", RatioKind::Count, -1, "allocations_per_message"});

}  // namespace

extern "C" {
void* malloc(size_t size) noexcept {
  countOne();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
  countOne();
  return __libc_calloc(count, size);
}
void* realloc(void* memory, size_t size) noexcept {
  countOne();
  return __libc_realloc(memory, size);
}
void free(void* memory) noexcept { __libc_free(memory); }
}

}  // namespace trovex
