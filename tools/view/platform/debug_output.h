// Every process's debug output: what any program passes to
// OutputDebugStringA. On Windows the system's protocol between a program and
// one monitor (the section "DBWIN_BUFFER" and the events
// "DBWIN_BUFFER_READY" and "DBWIN_DATA_READY"); elsewhere the datagram
// socket that the emulation's OutputDebugStringA sends to
// (src/common/pipe.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One call of OutputDebugStringA.
struct DebugOutputText {
  uint32_t pid;
  std::string program;  // the image's file name, "?" when it cannot be found
  std::string text;
};

class DebugOutputMonitor {
 public:
  virtual ~DebugOutputMonitor() = default;
  // Appends what came, at most MaxTextsPerWait texts, waiting about a tenth
  // of a second at most when nothing has; false, with the reason in
  // `error`, when receiving failed. A program that writes without pause
  // still lets each wait return.
  virtual bool wait(std::vector<DebugOutputText>* texts, std::string* error) = 0;
  static constexpr size_t MaxTextsPerWait = 64;
};

// Null, with the reason in `error`, when the debug output cannot be taken:
// another monitor holds it (one at a time), or the system refuses.
std::unique_ptr<DebugOutputMonitor> monitorDebugOutput(std::string* error);
