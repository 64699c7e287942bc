// The viewer on Windows: sources over handles (a COM port with read
// time-outs, and standard input); files by volume and file index; the
// console's code page and the system's conversions.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace {

constexpr DWORD ReadMilliseconds = 100;
constexpr DWORD SerialBaudRate = 19200;

class HandleSource : public ByteSource {
 public:
  HandleSource(HANDLE handle, bool owned) : handle_(handle), owned_(owned) {}
  ~HandleSource() override {
    if (owned_) CloseHandle(handle_);
  }
  long read(char* buffer, size_t size, std::string* error) override {
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(size), &got, nullptr)) {
      // A pipe whose writer has gone is the end of the input.
      if (GetLastError() == ERROR_BROKEN_PIPE) return EndOfInput;
      *error = lastSystemError();
      return ReadFailed;
    }
    if (got > 0) return static_cast<long>(got);
    // A COM port returns nothing when its time-out passes; anything else has ended.
    return owned_ ? 0 : EndOfInput;
  }

 private:
  HANDLE handle_;
  bool owned_;
};

// "COM2" and "COM2:" name the port; "\\.\COM12" is taken as it is, and
// ports above 9 need that form.
std::string portPath(std::string device) {
  if (!device.empty() && device.back() == ':') device.pop_back();
  if (device.rfind("\\\\.\\", 0) == 0) return device;
  return "\\\\.\\" + device;
}

}  // namespace

std::string lastSystemError() {
  const DWORD code = GetLastError();
  char text[256] = {};
  if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                      sizeof text - 1, nullptr))
    return "error " + std::to_string(code);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message;
}

std::unique_ptr<ByteSource> openSerialPort(const std::string& device, std::string* error) {
  HANDLE port = CreateFileA(portPath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    *error = lastSystemError();
    return nullptr;
  }
  DCB settings{};
  settings.DCBlength = sizeof settings;
  COMMTIMEOUTS timeouts{};
  // Return what has arrived as soon as something has, or nothing after the limit.
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = ReadMilliseconds;
  bool ready = GetCommState(port, &settings);
  if (ready) {
    settings.BaudRate = SerialBaudRate;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    ready = SetCommState(port, &settings) && SetCommTimeouts(port, &timeouts);
  }
  if (!ready) {
    *error = lastSystemError();
    CloseHandle(port);
    return nullptr;
  }
  return std::make_unique<HandleSource>(port, true);
}

std::unique_ptr<ByteSource> openStandardInput() {
  return std::make_unique<HandleSource>(GetStdHandle(STD_INPUT_HANDLE), false);
}

namespace {

std::atomic<bool> endSignalled{false};

// Close, log-off and shutdown end the process once the handler returns (or
// the system's few seconds are up): the handler waits this long, so that the
// program finishes its own end first (the table of --stats), whose exit ends
// the process and the handler with it.
constexpr DWORD ClosingMilliseconds = 4000;

BOOL WINAPI onConsoleEvent(DWORD event) {
  endSignalled = true;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    Sleep(ClosingMilliseconds);
  return TRUE;
}

// After an end signal, how long a write to standard output may still take.
constexpr auto EndWriteWait = std::chrono::milliseconds(100);
constexpr auto WriteLook = std::chrono::milliseconds(100);

// Standard output, written on a thread of its own: a WriteFile to a pipe
// that nobody reads waits for good and nothing cuts it short, so the caller
// waits for it only until an end signal and EndWriteWait more. A write left
// then stays with its thread until the process ends; the output has ended.
class OutputThread {
 public:
  bool write(const char* data, size_t size) {
    std::unique_lock<std::mutex> hold(lock_);
    if (failed_ || busy_) return false;
    if (!thread_.joinable()) thread_ = startWorker([this] { run(); });
    text_.assign(data, size);
    busy_ = true;
    changed_.notify_all();
    const auto written = [this] { return !busy_; };
    while (!changed_.wait_for(hold, WriteLook, written)) {
      if (endSignalled && !changed_.wait_for(hold, EndWriteWait, written)) return false;
    }
    return !failed_;
  }

 private:
  void run() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      changed_.wait(hold, [this] { return busy_; });
      std::string text;
      text.swap(text_);
      hold.unlock();
      bool ok = true;
      for (size_t done = 0; ok && done < text.size();) {
        DWORD wrote = 0;
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1 << 20));
        ok = WriteFile(output, text.data() + done, piece, &wrote, nullptr) && wrote > 0;
        done += wrote;
      }
      hold.lock();
      failed_ = !ok;
      busy_ = false;
      changed_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::string text_;     // what the caller hands over
  bool busy_ = false;    // a write is handed over and not yet done
  bool failed_ = false;  // a write failed: the reader went away
  std::thread thread_;
};

}  // namespace

void catchEndSignals() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

bool endRequested() { return endSignalled; }

void catchReopenSignal() {}
bool reopenRequested() { return false; }

bool writeStandardOutput(const char* data, size_t size) {
  // Never destroyed: its thread may still be inside a write when the
  // program's statics go at its end.
  static OutputThread* const output = new OutputThread;
  if (size == 0) return true;
  return output->write(data, size);
}

std::thread startWorker(std::function<void()> work) { return std::thread(std::move(work)); }

std::string programOf(uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return "?";
  char path[MAX_PATH * 2];
  DWORD size = sizeof path;
  const bool known = QueryFullProcessImageNameA(process, 0, path, &size);
  CloseHandle(process);
  if (!known) return "?";
  const std::string image(path, size);
  return image.substr(image.find_last_of("\\/") + 1);
}

bool standardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

namespace {
// The console's attributes at the start: its own colours, which a reset
// returns to (and the end, so the console is left as it was found).
WORD consoleAttributes = 0;
bool consoleAttributesKnown = false;
}  // namespace

bool colourByAttributes() {
  if (!consoleAttributesKnown) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!standardOutputIsTerminal() || !GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
      return false;
    consoleAttributes = info.wAttributes;
    consoleAttributesKnown = true;
    std::atexit([] { SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), consoleAttributes); });
  }
  return true;
}

void setOutputColour(int foreground, bool bright) {
  if (!colourByAttributes()) return;
  // ANSI's order is red 1, green 2, blue 4; the console's is blue 1, green 2, red 4.
  WORD attributes = consoleAttributes;
  if (foreground >= 0) {
    const WORD bits = static_cast<WORD>(((foreground & 1) ? FOREGROUND_RED : 0) | ((foreground & 2) ? FOREGROUND_GREEN : 0) |
                                        ((foreground & 4) ? FOREGROUND_BLUE : 0));
    attributes = static_cast<WORD>((attributes & ~(FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE)) | bits);
  }
  if (bright) attributes |= FOREGROUND_INTENSITY;
  std::fflush(stdout);
  SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), attributes);
}

bool fileIdentity(const std::string& path, FileIdentity* identity) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION look{};
  const bool known = GetFileInformationByHandle(file, &look);
  CloseHandle(file);
  if (!known) return false;
  identity->device = look.dwVolumeSerialNumber;
  identity->index = (uint64_t{look.nFileIndexHigh} << 32) | look.nFileIndexLow;
  identity->bornNanoseconds = 0;
  return true;
}

std::string terminalEncoding() {
  DWORD mode = 0;
  const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
  return "cp" + std::to_string(console ? GetConsoleOutputCP() : GetACP());
}

namespace {

class CodePageRecoder : public Recoder {
 public:
  explicit CodePageRecoder(UINT codePage) : codePage_(codePage) {}
  void fromUtf8(std::string_view text, std::string* out) override {
    const int length = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (wide <= 0) return;
    std::vector<wchar_t> utf16(static_cast<size_t>(wide));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, utf16.data(), wide);
    const int bytes = WideCharToMultiByte(codePage_, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    const size_t at = out->size();
    out->resize(at + static_cast<size_t>(bytes));
    WideCharToMultiByte(codePage_, 0, utf16.data(), wide, &(*out)[at], bytes, nullptr, nullptr);
  }

 private:
  UINT codePage_;
};

}  // namespace

std::unique_ptr<Recoder> openRecoder(const std::string& encoding) {
  const bool prefixed = encoding.size() > 2 && (encoding[0] | 0x20) == 'c' && (encoding[1] | 0x20) == 'p';
  const size_t digits = prefixed ? 2 : 0;
  char* end = nullptr;
  const unsigned long codePage = std::strtoul(encoding.c_str() + digits, &end, 10);
  if (end == encoding.c_str() + digits || *end || codePage > 65535 || !IsValidCodePage(static_cast<UINT>(codePage)))
    return nullptr;
  return std::make_unique<CodePageRecoder>(static_cast<UINT>(codePage));
}
