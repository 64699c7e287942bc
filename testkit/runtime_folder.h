// A runtime folder of the run's own for a test or benchmark program started
// by hand (ctest gives each test one): natively the emulation keeps its pipe
// folder and named mutexes under XDG_RUNTIME_DIR, and without one of its own
// a run would leave them in the user's folder. Made when XDG_RUNTIME_DIR is
// unset, for this process and the processes it starts (they inherit it), and
// removed with all in it when the program ends. Nothing on Windows.
#pragma once

#if !defined(_WIN32)
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace trovex {

class OwnRuntimeFolder {
 public:
  OwnRuntimeFolder() {
    if (std::getenv("XDG_RUNTIME_DIR")) return;
    std::error_code failed;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path(failed) / ("trovex-run-" + std::to_string(getpid()));
    if (failed || !std::filesystem::create_directory(folder, failed)) return;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, failed);
    folder_ = folder.string();
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  ~OwnRuntimeFolder() {
    if (folder_.empty()) return;
    std::error_code failed;
    std::filesystem::remove_all(folder_, failed);
  }
  OwnRuntimeFolder(const OwnRuntimeFolder&) = delete;
  OwnRuntimeFolder& operator=(const OwnRuntimeFolder&) = delete;

 private:
  std::string folder_;
};

}  // namespace trovex
#endif
