// Scratch files of the benchmarks, in the temporary directory.
#pragma once

#include <filesystem>
#include <string>

#include <unistd.h>

// The path of a scratch file `name`, removed if it was left by an earlier run.
// The process id is part of it: other runs of the program on the same
// machine (other worktrees) use the same temporary directory at the same time.
inline std::string scratchFile(const char* name) {
  const std::string path =
      (std::filesystem::temp_directory_path() / (std::to_string(getpid()) + "-" + name)).string();
  std::filesystem::remove(path);
  return path;
}

#include "../tests/printing.h"
#include "dispatch/emit.h"

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
