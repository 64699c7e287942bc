// Scratch files of the benchmarks, in the temporary directory.
#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "printing.h"
#include "dispatch/emit.h"

namespace trovex {

// The path of a scratch file `name`, removed if it was left by an earlier run.
// The process id is part of it: other runs of the program on the same
// machine (other worktrees) use the same temporary directory at the same time.
inline std::string scratchFile(const char* name) {
  const std::string path =
      (std::filesystem::temp_directory_path() / (std::to_string(getpid()) + "-" + name)).string();
  std::filesystem::remove(path);
  return path;
}


// A message path of a benchmark's own: a filter, a protocol file and an
// emission context over them, with the debug channel off.
struct BenchOutput {
  MessageFilter filter{};
  ProtocolFile protocol{};
  OutputContext context{};

  void open() {
    initMessageFilter(&filter);
    initProtocolFile(&protocol);
    initOutputContext(&context, &filter, &protocol);
    setChannelEnabled(&context, false);
  }
  void close() { destroyOutputContext(&context); }
};

// Standard error on /dev/null for the lifetime of the record.
struct QuietStandardError {
  int saved;
  QuietStandardError() : saved(dup(STDERR_FILENO)) {
    std::fflush(stderr);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    close(null);
  }
  ~QuietStandardError() {
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
  }
};

// A receiver's store shared by threads, used under the sender's lock: text is
// copied in and wraps around; bytes counts all of it.
struct Store {
  char text[1 << 16];
  size_t position;
  size_t bytes;

  void add(const char* data, size_t length) {
    if (position + length > sizeof text) position = 0;
    std::memcpy(text + position, data, length);
    position += length;
    bytes += length;
  }
};

// The size of a benchmark's file as its "bytes" counter; the file goes.
inline void reportSize(benchmark::State& state, const std::string& name) {
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(name));
  std::filesystem::remove(name);
}

}  // namespace trovex
