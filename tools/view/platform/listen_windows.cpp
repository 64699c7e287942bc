// The listener's pipe on Windows: the named pipe itself, with instances
// waiting for writers and reads completing on one completion port.
#include <windows.h>

#include <cassert>
#include <map>
#include <vector>

#include "common/texts.h"
#include "listen/listen.h"
#include "platform/platform.h"

namespace {

// How long a wait looks for something to happen.
constexpr DWORD WaitMilliseconds = 100;
// Bytes a pipe instance holds for its writer before the writer waits (the
// system's, not the listener's), and bytes read at a time: each connected
// writer has a read of this size waiting, so it is kept small, a page.
constexpr DWORD PipeBufferBytes = 1 << 20;
constexpr DWORD PipeReadBytes = 4096;
static_assert(PipeReadBytes <= PipeReadBytesPerWriter, "a read takes no more than a writer's part of a wait");
// How long the end waits for the cancelled operations of its instances: a
// part of the second within which the listener ends. The records of those
// still pending then are left to the system, never freed under it.
constexpr DWORD CancelWaitMilliseconds = 250;
// Completions taken in one wait, so that what they bring is shown in time.
constexpr size_t MaxEventsPerWait = MaxPipeReadsPerWait;
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
  NamedPipeListener(std::string path, size_t maxWriters) : path_(std::move(path)), maxWriters_(maxWriters) {}
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
      *error = lastSystemError();
      return false;
    }
    if (!offerInstance(true, &early_)) {
      *error = GetLastError() == ERROR_ACCESS_DENIED ? "another listener serves it" : lastSystemError();
      return false;
    }
    offerFreeInstances(&early_);
    return true;
  }

  bool wait(std::vector<PipeEvent>* events, std::string* error) override {
    events->insert(events->end(), early_.begin(), early_.end());
    early_.clear();
    // Instances that could not be made when a writer came (the system out of
    // them for now) are tried again, or no writer would ever connect again.
    offerFreeInstances(events);
    DWORD timeout = WaitMilliseconds;
    for (;;) {
      DWORD bytes = 0;
      ULONG_PTR key = 0;
      OVERLAPPED* done = nullptr;
      const bool ok = GetQueuedCompletionStatus(port_, &bytes, &key, &done, timeout);
      if (!done) {
        if (GetLastError() == WAIT_TIMEOUT) return true;
        *error = lastSystemError();
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
      assert(connected_ <= maxWriters_);
      if (events->size() >= MaxEventsPerWait) return true;
      timeout = 0;
    }
  }

  size_t writerCount() const override { return connected_; }
  size_t maxWriters() const override { return maxWriters_; }

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
      ++connected_;
      instance->id = ++lastId_;
      ULONG pid = 0;
      GetNamedPipeClientProcessId(instance->pipe, &pid);
      events->push_back({PipeEvent::Kind::Connected, instance->id, pid, programOf(pid), {}});
      read(instance, events);
    }
    // The next writers find free instances, whatever became of this one.
    offerFreeInstances(events);
  }

  // Writers beyond the most it serves find the pipe busy (and their hosts
  // their fallback) until one goes: no instance waits for them.
  void offerFreeInstances(std::vector<PipeEvent>* events) {
    while (free_ < FreeInstances && connected_ + free_ < maxWriters_ && offerInstance(false, events)) {
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
    if (instance->connected) --connected_;
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
  const size_t maxWriters_;
  size_t free_ = 0;               // instances waiting for a writer
  size_t connected_ = 0;          // instances with a writer
  uint64_t lastId_ = 0;
};

}  // namespace

std::unique_ptr<PipeListener> listenOnPipe(const std::string& name, std::string* error, size_t maxWriters) {
  if (name.empty() || name.find('\\') != std::string::npos) {
    *error = "a pipe name is not empty and holds no \"\\\"";
    return nullptr;
  }
  auto listener = std::make_unique<NamedPipeListener>(trovex::PipePathPrefix + name, maxWriters > 0 ? maxWriters : 1);
  if (!listener->start(error)) return nullptr;
  return listener;
}
