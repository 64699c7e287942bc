#include <windows.h>

#include <cstring>

#include "common/pipe.h"
#include "platform/debug_output.h"
#include "platform/platform.h"

namespace {

constexpr DWORD WaitMilliseconds = 100;

// The monitor's side of the system's protocol: it says the buffer is free
// (DBWIN_BUFFER_READY), a program's OutputDebugStringA fills it with its
// process id and text and says so (DBWIN_DATA_READY). One monitor at a time.
class SystemMonitor : public DebugOutputMonitor {
 public:
  SystemMonitor(HANDLE section, const char* view, HANDLE bufferReady, HANDLE dataReady)
      : section_(section), view_(view), bufferReady_(bufferReady), dataReady_(dataReady) {
    SetEvent(bufferReady_);
  }
  ~SystemMonitor() override {
    UnmapViewOfFile(view_);
    CloseHandle(section_);
    CloseHandle(bufferReady_);
    CloseHandle(dataReady_);
  }

  bool wait(std::vector<DebugOutputText>* texts, std::string*) override {
    DWORD timeout = WaitMilliseconds;
    for (size_t taken = 0; taken < MaxTextsPerWait && WaitForSingleObject(dataReady_, timeout) == WAIT_OBJECT_0; ++taken) {
      DWORD pid;
      std::memcpy(&pid, view_, sizeof pid);
      const char* text = view_ + sizeof pid;
      std::string copy(text, strnlen(text, trovex::win32::DebugOutputBufferSize - sizeof pid));
      // The buffer is the machine's: every program's OutputDebugStringA
      // waits for it, so it goes back before the look at the process.
      SetEvent(bufferReady_);
      texts->push_back({pid, programOf(pid), std::move(copy)});
      timeout = 0;  // take what follows at once, then return it
    }
    return true;
  }

 private:
  HANDLE section_;
  const char* view_;
  HANDLE bufferReady_, dataReady_;
};

}  // namespace

std::unique_ptr<DebugOutputMonitor> monitorDebugOutput(std::string* error) {
  HANDLE bufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
  if (bufferReady && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(bufferReady);
    *error = "another debug-output monitor holds it";
    return nullptr;
  }
  HANDLE dataReady = bufferReady ? CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY") : nullptr;
  HANDLE section = dataReady ? CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  trovex::win32::DebugOutputBufferSize, "DBWIN_BUFFER")
                             : nullptr;
  const char* view = section ? static_cast<const char*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  if (!view) {
    *error = "the system refuses its objects (error " + std::to_string(GetLastError()) + ")";
    if (section) CloseHandle(section);
    if (dataReady) CloseHandle(dataReady);
    if (bufferReady) CloseHandle(bufferReady);
    return nullptr;
  }
  return std::make_unique<SystemMonitor>(section, view, bufferReady, dataReady);
}
