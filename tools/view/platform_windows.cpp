// The viewer on Windows: sources over handles (a COM port with read
// time-outs, and standard input); files by volume and file index; the
// console's code page and the system's conversions.
#include <windows.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "common/texts.h"
#include "platform.h"

namespace {

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

constexpr DWORD ReadMilliseconds = 100;
constexpr DWORD SerialBaudRate = 19200;

std::string lastErrorText() {
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
      *error = lastErrorText();
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

std::unique_ptr<ByteSource> openSerialPort(const std::string& device, std::string* error) {
  HANDLE port = CreateFileA(portPath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    *error = lastErrorText();
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
    *error = lastErrorText();
    CloseHandle(port);
    return nullptr;
  }
  return std::make_unique<HandleSource>(port, true);
}

std::unique_ptr<ByteSource> openStandardInput() {
  return std::make_unique<HandleSource>(GetStdHandle(STD_INPUT_HANDLE), false);
}

bool standardOutputIsTerminal() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(output, &mode)) return false;
  SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return true;
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

namespace {

// Bytes a pipe instance holds for its writer before the writer waits, and
// bytes read at a time.
constexpr DWORD PipeBufferBytes = 1 << 20;
constexpr DWORD PipeReadBytes = 65536;
// How long the end waits for the cancelled operations of its instances.
constexpr DWORD CancelWaitMilliseconds = 1000;
// Completions taken in one wait, so that what they bring is shown in time.
constexpr size_t MaxEventsPerWait = 64;
// Instances kept waiting for writers: hosts that start together each find one.
constexpr size_t FreeInstances = 4;

// One instance of the pipe: waiting for a writer, then reading from it. Its
// operations complete on the listener's completion port, keyed by the
// instance and told apart by their OVERLAPPED records.
struct Instance {
  OVERLAPPED connect{};
  OVERLAPPED read{};
  HANDLE pipe = INVALID_HANDLE_VALUE;
  bool connected = false;
  int pending = 0;  // operations not yet completed on the port
  uint64_t id = 0;
  std::vector<char> buffer = std::vector<char>(PipeReadBytes);
};

class NamedPipeListener : public PipeListener {
 public:
  explicit NamedPipeListener(std::string path) : path_(std::move(path)) {}
  ~NamedPipeListener() override {
    for (auto& entry : instances_) CloseHandle(entry.second->pipe);
    // Closing cancels their operations; the records are freed only once
    // the port has given every one back.
    const DWORD start = GetTickCount();
    while (pendingCount() > 0 && GetTickCount() - start < CancelWaitMilliseconds) {
      DWORD bytes;
      ULONG_PTR key;
      OVERLAPPED* done;
      if (!GetQueuedCompletionStatus(port_, &bytes, &key, &done, 50) && !done) continue;
      --reinterpret_cast<Instance*>(key)->pending;
    }
    for (auto& entry : instances_)
      if (entry.second->pending > 0) entry.second.release();  // still in the system's hands
    if (port_) CloseHandle(port_);
  }

  // Creates the port and the instances that wait; false when another
  // listener holds the name already.
  bool start(std::string* error) {
    // The first instance's flag refuses a name served already; Wine does
    // not heed it, so a look as a writer comes first.
    HANDLE probe = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE || GetLastError() == ERROR_PIPE_BUSY) {
      if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
      *error = "another listener serves it";
      return false;
    }
    port_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (!port_) {
      *error = lastErrorText();
      return false;
    }
    if (!offerInstance(true, &early_)) {
      *error = GetLastError() == ERROR_ACCESS_DENIED ? "another listener serves it" : lastErrorText();
      return false;
    }
    while (free_ < FreeInstances && offerInstance(false, &early_)) {
    }
    return true;
  }

  bool wait(std::vector<PipeEvent>* events, std::string* error) override {
    events->insert(events->end(), early_.begin(), early_.end());
    early_.clear();
    DWORD timeout = ReadMilliseconds;
    for (;;) {
      DWORD bytes = 0;
      ULONG_PTR key = 0;
      OVERLAPPED* done = nullptr;
      const bool ok = GetQueuedCompletionStatus(port_, &bytes, &key, &done, timeout);
      if (!done) {
        if (GetLastError() == WAIT_TIMEOUT) return true;
        *error = lastErrorText();
        return false;
      }
      Instance* instance = reinterpret_cast<Instance*>(key);
      if (done == &instance->connect) {
        // (A writer that came before the wait was taken at once.)
        if (!instance->connected) {
          --instance->pending;
          connected(instance, ok || GetLastError() == ERROR_PIPE_CONNECTED, events);
        }
      } else if (--instance->pending, ok) {
        if (bytes > 0)
          events->push_back({PipeEvent::Kind::Data, instance->id, 0, {}, std::string(instance->buffer.data(), bytes)});
        read(instance, events);
      } else {
        gone(instance, events);
      }
      // Take what else has completed, without waiting, up to a batch.
      if (events->size() >= MaxEventsPerWait) return true;
      timeout = 0;
    }
  }

 private:
  // A new instance that waits for a writer; false when it cannot be made.
  bool offerInstance(bool first, std::vector<PipeEvent>* events) {
    const DWORD openMode = PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    HANDLE pipe = CreateNamedPipeA(path_.c_str(), openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                   PIPE_UNLIMITED_INSTANCES, 0, PipeBufferBytes, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return false;
    auto owned = std::make_unique<Instance>();
    Instance* instance = owned.get();
    instance->pipe = pipe;
    if (!CreateIoCompletionPort(pipe, port_, reinterpret_cast<ULONG_PTR>(instance), 0)) {
      CloseHandle(pipe);
      return false;
    }
    instances_[instance] = std::move(owned);
    ++free_;
    if (ConnectNamedPipe(pipe, &instance->connect) || GetLastError() == ERROR_IO_PENDING) {
      ++instance->pending;
    } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
      connected(instance, true, events);  // a writer came before the wait: no completion follows
    } else {
      --free_;
      drop(instance);
      return false;
    }
    return true;
  }

  void connected(Instance* instance, bool ok, std::vector<PipeEvent>* events) {
    --free_;
    if (!ok) {
      drop(instance);
    } else {
      instance->connected = true;
      instance->id = ++lastId_;
      ULONG pid = 0;
      GetNamedPipeClientProcessId(instance->pipe, &pid);
      events->push_back({PipeEvent::Kind::Connected, instance->id, pid, programOf(pid), {}});
      read(instance, events);
    }
    // The next writers find free instances, whatever became of this one.
    while (free_ < FreeInstances && offerInstance(false, events)) {
    }
  }

  void read(Instance* instance, std::vector<PipeEvent>* events) {
    if (ReadFile(instance->pipe, instance->buffer.data(), PipeReadBytes, nullptr, &instance->read) ||
        GetLastError() == ERROR_IO_PENDING) {
      ++instance->pending;  // a read that completes at once completes on the port too
      return;
    }
    gone(instance, events);
  }

  void gone(Instance* instance, std::vector<PipeEvent>* events) {
    events->push_back({PipeEvent::Kind::Gone, instance->id, 0, {}, {}});
    drop(instance);
  }

  void drop(Instance* instance) {
    CloseHandle(instance->pipe);
    instances_.erase(instance);
  }

  size_t pendingCount() const {
    size_t count = 0;
    for (const auto& entry : instances_) count += static_cast<size_t>(entry.second->pending);
    return count;
  }

  std::string path_;
  HANDLE port_ = nullptr;
  std::map<Instance*, std::unique_ptr<Instance>> instances_;
  std::vector<PipeEvent> early_;  // writers that came while the instances were being offered
  size_t free_ = 0;               // instances waiting for a writer
  uint64_t lastId_ = 0;
};

}  // namespace

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

std::unique_ptr<PipeListener> listenOnPipe(const std::string& name, std::string* error) {
  if (name.empty() || name.find('\\') != std::string::npos) {
    *error = "a pipe name is not empty and holds no \"\\\"";
    return nullptr;
  }
  auto listener = std::make_unique<NamedPipeListener>(PipePathPrefix + name);
  if (!listener->start(error)) return nullptr;
  return listener;
}
