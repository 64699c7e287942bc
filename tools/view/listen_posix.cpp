// The listener's pipe on POSIX: the local stream socket that the
// emulation's CreateFileA connects to (common/pipe.h), served with poll().
// A writer's process id comes from the socket's peer, its program's name
// from its hello.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "common/pipe.h"
#include "listen.h"
#include "platform.h"

namespace {

// How long a wait looks for something to happen.
constexpr int PollMilliseconds = 100;
constexpr size_t PipeReadBytes = 65536;

class SocketListener : public PipeListener {
 public:
  SocketListener(int server, std::string path) : server_(server), path_(std::move(path)) {}
  ~SocketListener() override {
    for (const Writer& writer : writers_) close(writer.fd);
    close(server_);
    unlink(path_.c_str());
  }

  bool wait(std::vector<PipeEvent>* events, std::string* error) override {
    std::vector<pollfd> ready{{server_, POLLIN, 0}};
    for (const Writer& writer : writers_) ready.push_back({writer.fd, POLLIN, 0});
    const int count = poll(ready.data(), ready.size(), PollMilliseconds);
    if (count < 0 && errno != EINTR) {
      *error = lastSystemError();
      return false;
    }
    if (count <= 0) return true;
    // New writers first, so that each is looked at as soon as can be: one
    // that has ended by then, and has not said its name, has none left to
    // find. Then the others, in the order they came.
    const size_t known = writers_.size();
    if (ready[0].revents) accept();
    std::vector<Writer> staying;
    std::vector<char> buffer(PipeReadBytes);
    for (size_t i = 0; i < known; ++i) {
      Writer& writer = writers_[i];
      if (ready[i + 1].revents) {
        const ssize_t got = ::read(writer.fd, buffer.data(), buffer.size());
        if (got > 0) {
          receive(&writer, std::string(buffer.data(), size_t(got)), events);
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
          close(writer.fd);
          if (!writer.introduced) introduced(&writer, events);
          events->push_back({PipeEvent::Kind::Gone, writer.id, 0, {}, {}});
          continue;
        }
      }
      staying.push_back(std::move(writer));
    }
    staying.insert(staying.end(), writers_.begin() + static_cast<long>(known), writers_.end());
    writers_.swap(staying);
    return true;
  }

 private:
  struct Writer {
    int fd;
    uint64_t id;
    uint32_t pid;
    std::string program;      // as the system knows the process, "?" when it has ended
    bool introduced = false;  // its Connected event is out
    std::string start;        // its first bytes, while they may still be a hello
  };

  void accept() {
    for (;;) {
      const int fd = accept4(server_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;  // none waiting (the server is non-blocking), or one that gave up
      ucred peer{};
      socklen_t size = sizeof peer;
      getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size);
      writers_.push_back({fd, ++lastId_, static_cast<uint32_t>(peer.pid), programOf(static_cast<uint32_t>(peer.pid)), false, {}});
    }
  }

  // A writer's bytes: its hello first, when it says one, then data.
  void receive(Writer* writer, std::string bytes, std::vector<PipeEvent>* events) {
    if (!writer->introduced) {
      writer->start += bytes;
      bytes.clear();
      const std::string& start = writer->start;
      const bool hello = start[0] == trovex::win32::PipeHelloMark;
      const size_t end = hello ? start.find(trovex::win32::PipeHelloMark, 1) : std::string::npos;
      if (hello && end == std::string::npos && start.size() < trovex::win32::PipeHelloMaxName + 2) return;  // more to come
      if (end != std::string::npos) {
        if (end > 1) writer->program = start.substr(1, end - 1);
        bytes = start.substr(end + 1);
      } else {
        bytes = start;  // no hello: all of it is data
      }
      writer->start.clear();
      introduced(writer, events);
    }
    if (!bytes.empty()) events->push_back({PipeEvent::Kind::Data, writer->id, 0, {}, std::move(bytes)});
  }

  void introduced(Writer* writer, std::vector<PipeEvent>* events) {
    writer->introduced = true;
    events->push_back({PipeEvent::Kind::Connected, writer->id, writer->pid, writer->program, {}});
    if (!writer->start.empty()) events->push_back({PipeEvent::Kind::Data, writer->id, 0, {}, writer->start});
  }

  int server_;
  std::string path_;
  std::vector<Writer> writers_;
  uint64_t lastId_ = 0;
};

}  // namespace

std::unique_ptr<PipeListener> listenOnPipe(const std::string& name, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!trovex::win32::pipeSocketPath(name.c_str(), address.sun_path, sizeof address.sun_path)) {
    *error = errno == EINVAL ? "a pipe name is not empty and holds no \"/\"" : "the name is too long";
    return nullptr;
  }
  if (!trovex::win32::securePipeFolder(true)) {
    *error = errno == EACCES ? "the folder of the pipes is not the user's own, or others may enter it" : lastSystemError();
    return nullptr;
  }
  const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (server < 0) {
    *error = lastSystemError();
    return nullptr;
  }
  const sockaddr* at = reinterpret_cast<const sockaddr*>(&address);
  int bound = bind(server, at, sizeof address);
  if (bound != 0 && errno == EADDRINUSE) {
    // A socket file is there: a listener that serves it, or one left behind
    // by a listener that ended without removing it, which goes.
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool served = probe >= 0 && connect(probe, at, sizeof address) == 0;
    if (probe >= 0) close(probe);
    if (served) {
      close(server);
      *error = "another listener serves it";
      return nullptr;
    }
    unlink(address.sun_path);
    bound = bind(server, at, sizeof address);
  }
  if (bound != 0 || listen(server, SOMAXCONN) != 0) {
    *error = lastSystemError();
    close(server);
    return nullptr;
  }
  return std::make_unique<SocketListener>(server, address.sun_path);
}
