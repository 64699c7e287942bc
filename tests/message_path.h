// A message path of a test's own, and the process-wide settings saved and
// restored around a test that changes them through the exports.
#pragma once

#include "callback_recorder.h"
#include "dispatch/emit.h"
#include "printing.h"

namespace trovex {

// A filter, a protocol file and an emission context over them, with the
// recording callback, every destination but the debug channel on, and the
// recorded calls cleared. Nothing process-wide is touched.
struct TestOutput {
  MessageFilter filter{};
  ProtocolFile protocol{};
  OutputContext context{};

  TestOutput() {
    initMessageFilter(&filter);
    initProtocolFile(&protocol);
    initOutputContext(&context, &filter, &protocol);
    setChannelEnabled(&context, false);
    setCallback(&context, recordCallback);
    recordedCalls.clear();
  }
  ~TestOutput() { destroyOutputContext(&context); }
  TestOutput(const TestOutput&) = delete;
  TestOutput& operator=(const TestOutput&) = delete;

  // One message, closing the protocol file or keeping it open.
  int emit(const char* type, const char* id, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = emitMessage(&context, type, id, format, &args, false);
    va_end(args);
    return result;
  }
};

// The process-wide switches, lists, callback and destination switches as a
// test found them, put back when it ends. The constructor also turns the
// debug channel and the protocol file off and the recording callback on.
class SavedSettings {
 public:
  SavedSettings();
  ~SavedSettings();
  SavedSettings(const SavedSettings&) = delete;
  SavedSettings& operator=(const SavedSettings&) = delete;

 private:
  int32_t switches_[3];
  PatternLists lists_;
  MessageCallback callback_;
  bool channel_, protocol_;
};

}  // namespace trovex
