// The listener's pipe on POSIX: the local stream socket that the
// emulation's CreateFileA connects to (common/pipe.h), served with poll().
// A writer's process id comes from the socket's peer, its program's name
// from its hello (read with its data, WriterStream) or else from the system.
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "common/pipe.h"
#include "listen/listen.h"
#include "platform/platform.h"

namespace {

// How long a wait looks for something to happen; also how long accepting
// rests when the process may open no more files.
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
    // While no file can be opened, a waiting writer would wake every poll at
    // once: the server sits out one wait (a tenth of a second when nothing
    // else happens), and the writer stays in the system's queue till then.
    const bool accepting = !full_;
    full_ = false;
    std::vector<pollfd> ready;
    ready.reserve(writers_.size() + 1);
    ready.push_back({accepting ? server_ : -1, POLLIN, 0});
    for (const Writer& writer : writers_) ready.push_back({writer.fd, POLLIN, 0});
    const int count = poll(ready.data(), ready.size(), PollMilliseconds);
    if (count < 0 && errno != EINTR) {
      *error = lastSystemError();
      return false;
    }
    if (count <= 0) return true;
    // New writers first, so that each is looked at as soon as can be: one
    // that has ended by then, and has not said its name, has none left to
    // find. Then the others, in the order they came, each read once: one
    // that writes without end holds up none of the others.
    const size_t known = writers_.size();
    if (ready[0].revents) accept(events);
    std::vector<Writer> staying;
    staying.reserve(writers_.size());
    for (size_t i = 0; i < known; ++i) {
      const Writer& writer = writers_[i];
      if (ready[i + 1].revents) {
        const ssize_t got = ::read(writer.fd, buffer_.data(), buffer_.size());
        if (got > 0) {
          events->push_back({PipeEvent::Kind::Data, writer.id, 0, {}, std::string(buffer_.data(), size_t(got))});
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
          close(writer.fd);
          events->push_back({PipeEvent::Kind::Gone, writer.id, 0, {}, {}});
          continue;
        }
      }
      staying.push_back(writer);
    }
    staying.insert(staying.end(), writers_.begin() + static_cast<long>(known), writers_.end());
    writers_.swap(staying);
    return true;
  }

 private:
  struct Writer {
    int fd;
    uint64_t id;
  };

  // Takes the writers waiting; each is named as the system knows it, which
  // its hello may tell better.
  void accept(std::vector<PipeEvent>* events) {
    for (;;) {
      const int fd = accept4(server_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        // None waiting (the server is non-blocking), one that gave up, or no
        // file left for it: it waits in the system's queue.
        full_ = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        return;
      }
      ucred peer{};
      socklen_t size = sizeof peer;
      getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size);
      const uint32_t pid = static_cast<uint32_t>(peer.pid);
      writers_.push_back({fd, ++lastId_});
      events->push_back({PipeEvent::Kind::Connected, lastId_, pid, programOf(pid), {}, true});
    }
  }

  int server_;
  std::string path_;
  std::vector<Writer> writers_;
  std::vector<char> buffer_ = std::vector<char>(PipeReadBytes);
  uint64_t lastId_ = 0;
  bool full_ = false;  // the last accept found no file to open
};

}  // namespace

std::unique_ptr<PipeListener> listenOnPipe(const std::string& name, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!trovex::win32::pipeSocketPath(name.c_str(), address.sun_path, sizeof address.sun_path)) {
    *error = errno == EINVAL ? "a pipe name is not empty and holds no \"/\""
                              : "too long for a socket in the shared folder (XDG_RUNTIME_DIR/trovex, else /tmp/trovex-UID)";
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
  // Each writer takes a file: as many as the system lets the process have.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  if (bound != 0 || listen(server, SOMAXCONN) != 0) {
    *error = lastSystemError();
    close(server);
    return nullptr;
  }
  return std::make_unique<SocketListener>(server, address.sun_path);
}
