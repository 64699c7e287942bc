// Scratch files of the benchmarks, in the temporary directory.
#pragma once

#include <filesystem>
#include <string>

// The path of a scratch file `name`, removed if it was left by an earlier run.
inline std::string scratchFile(const char* name) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::filesystem::remove(path);
  return path;
}
