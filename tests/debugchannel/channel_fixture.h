// The debug channel's tests on channels of the test's own: the configuration
// each writes to the registry, the scratch files that stand in for the port,
// the fallbacks and standard error (redirected with SetStdHandle, so that the
// same tests run natively and under Wine), and what each target received.
#pragma once

#include <cstdarg>
#include <string>

#include "common/texts.h"
#include "debugchannel/channel.h"
#include "debugchannel/device.h"
#include "fileio/scratch.h"

namespace trovex {

const char ChannelKey[] = "qz\\kprintf";

inline void deleteChannelKey() {
  RegDeleteKeyA(HKEY_CURRENT_USER, ChannelKey);
  RegDeleteKeyA(HKEY_CURRENT_USER, "qz");
}

// What the registry holds for a row: no key, or "use" and optionally
// "type" and "path" (a path of `pathBytes` bytes counting its NUL when set).
struct Config {
  bool key;
  DWORD use;
  bool hasType;
  DWORD type;
  enum { NoPath, GoodPath, MissingDirPath, PadTo1023, PadTo1024, PipePath } path;
};

struct Targets {
  std::string file, stderrText, port, firstFallback, fallback;
};

class Channel : public ScratchTest {
 protected:
  static void SetUpTestSuite() {
    // The process's channel reads the registry at its first print: let it
    // do so now, before a test writes the key.
    deleteChannelKey();
    deliverToChannel(PreparedMessage{});
  }

  void SetUp() override {
    ScratchTest::SetUp();
    missingDir = path("missing") + "/fallback.txt";
    // The first fallback's directory exists only where a row makes it.
    fallbacks[0] = firstFallbackName = path("first") + "/fallback.txt";
    fallbacks[1] = fallbackName = path("fallback.txt");
    fallbackPointers[0] = fallbacks[0].c_str();
    fallbackPointers[1] = fallbacks[1].c_str();
    portName = path("port");
    devices = ChannelDevices{portName.c_str(), fallbackPointers, 2};
    originalStderr = GetStdHandle(STD_ERROR_HANDLE);
    stderrFile = CreateFileA(path("stderr.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(stderrFile, INVALID_HANDLE_VALUE);
    SetStdHandle(STD_ERROR_HANDLE, stderrFile);
  }

  void TearDown() override {
    SetStdHandle(STD_ERROR_HANDLE, originalStderr);
    CloseHandle(stderrFile);
    deleteChannelKey();
    ScratchTest::TearDown();
  }

  void writeConfig(const Config& config) {
    deleteChannelKey();
    if (!config.key) return;
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ChannelKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "use", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&config.use), 4);
    if (config.hasType) RegSetValueExA(key, "type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&config.type), 4);
    std::string value;
    switch (config.path) {
      case Config::NoPath: break;
      case Config::GoodPath: value = path("channel.txt"); break;
      case Config::MissingDirPath: value = missingDir; break;
      // The prefix in a case of its own: Windows takes it in any case.
      case Config::PipePath: value = "\\\\.\\Pipe\\" + pipeName(); break;
      case Config::PadTo1023:
      case Config::PadTo1024:
        value = missingDir + std::string(1022 - missingDir.size(), 'x');
        if (config.path == Config::PadTo1024) value += 'x';
        break;
    }
    if (config.path != Config::NoPath)
      RegSetValueExA(key, "path", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
  }

  void print(DebugChannel* channel, const char* format, ...) {
    va_list args;
    va_start(args, format);
    channelPrint(channel, format, &args);
    va_end(args);
  }

  // A pipe of this test's own, named after its scratch folder.
  std::string pipeName() const { return "trovex-test-" + root.substr(root.find_last_of("\\/") + 1); }

  Targets targets() {
    return Targets{readWholeFile(path("channel.txt")), readWholeFile(path("stderr.txt")), readWholeFile(portName),
                   readWholeFile(firstFallbackName), readWholeFile(fallbackName)};
  }

  std::string fallbacks[2], missingDir, firstFallbackName, fallbackName, portName;
  const char* fallbackPointers[2];
  ChannelDevices devices;
  HANDLE originalStderr, stderrFile;
};

// What a target that was never written reads as.
inline const std::string Missing = "<missing>";

}  // namespace trovex
