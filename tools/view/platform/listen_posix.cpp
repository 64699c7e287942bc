// The listener's pipe on POSIX: the local stream socket that the
// emulation's CreateFileA connects to (common/pipe.h), served with poll().
// A writer's process id comes from the socket's peer, its program's name
// from its hello (read with its data, WriterStream) or else from the system.
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>

#include "common/pipe.h"
#include "listen/listen.h"
#include "platform/platform.h"

namespace {

// How long a wait looks for something to happen; also how long accepting
// rests when the process may open no more files.
constexpr int PollMilliseconds = 100;

class SocketListener : public PipeListener {
 public:
  SocketListener(int server, std::string path, size_t maxWriters)
      : server_(server), path_(std::move(path)), maxWriters_(maxWriters) {}
  ~SocketListener() override {
    for (const Writer& writer : writers_) close(writer.fd);
    close(server_);
    unlink(path_.c_str());
  }

  bool wait(std::vector<PipeEvent>* events, std::string* error) override {
    // While no file can be opened, a waiting writer would wake every poll at
    // once: the server sits out one wait (a tenth of a second when nothing
    // else happens), and the writer stays in the system's queue till then.
    // So do the writers beyond the most it serves, until one goes.
    const bool accepting = !full_ && writers_.size() < maxWriters_;
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
    // find. Then the others, each read once and for a bounded part of what
    // it sent: one that writes without end holds up none of the others. The
    // reads go round from where the last wait stopped, so that writers
    // beyond one wait's reads are read first in the next.
    const size_t known = writers_.size();
    if (ready[0].revents) accept(events);
    std::vector<bool> leaving(known, false);
    size_t reads = 0;
    const size_t first = nextRead_;
    for (size_t k = 0; k < known && reads < MaxPipeReadsPerWait; ++k) {
      const size_t i = (first + k) % known;
      if (!ready[i + 1].revents) continue;
      ++reads;
      nextRead_ = i + 1;
      const Writer& writer = writers_[i];
      const ssize_t got = ::read(writer.fd, buffer_.data(), buffer_.size());
      if (got > 0) {
        events->push_back({PipeEvent::Kind::Data, writer.id, 0, {}, std::string(buffer_.data(), size_t(got))});
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        close(writer.fd);
        events->push_back({PipeEvent::Kind::Gone, writer.id, 0, {}, {}});
        leaving[i] = true;
      }
    }
    std::vector<Writer> staying;
    staying.reserve(writers_.size());
    for (size_t i = 0; i < writers_.size(); ++i)
      if (i >= known || !leaving[i]) staying.push_back(writers_[i]);
    writers_.swap(staying);
    if (nextRead_ >= writers_.size()) nextRead_ = 0;
    assert(writers_.size() <= maxWriters_);
    return true;
  }

  size_t writerCount() const override { return writers_.size(); }
  size_t maxWriters() const override { return maxWriters_; }

 private:
  struct Writer {
    int fd;
    uint64_t id;
  };

  // Takes the writers waiting; each is named as the system knows it, which
  // its hello may tell better.
  void accept(std::vector<PipeEvent>* events) {
    while (writers_.size() < maxWriters_) {
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
  const size_t maxWriters_;
  std::vector<char> buffer_ = std::vector<char>(PipeReadBytesPerWriter);
  uint64_t lastId_ = 0;
  size_t nextRead_ = 0;  // the writer the next wait reads first
  bool full_ = false;  // the last accept found no file to open
};

}  // namespace

std::unique_ptr<PipeListener> listenOnPipe(const std::string& name, std::string* error, size_t maxWriters) {
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
  // Each writer takes a file: as many as the system lets the process have,
  // less those kept back for the listener's own.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    if (files.rlim_cur < files.rlim_max) {
      const rlim_t was = files.rlim_cur;
      files.rlim_cur = files.rlim_max;
      if (setrlimit(RLIMIT_NOFILE, &files) != 0) files.rlim_cur = was;
    }
    if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < maxWriters + ReservedDescriptors)
      maxWriters = files.rlim_cur > ReservedDescriptors + 1 ? size_t(files.rlim_cur - ReservedDescriptors) : 1;
  }
  if (bound != 0 || listen(server, SOMAXCONN) != 0) {
    *error = lastSystemError();
    close(server);
    return nullptr;
  }
  return std::make_unique<SocketListener>(server, address.sun_path, maxWriters);
}
