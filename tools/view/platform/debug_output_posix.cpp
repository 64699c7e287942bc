#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/pipe.h"
#include "platform/debug_output.h"

namespace {

// Room for bursts: the sender never waits, so what does not fit is lost.
constexpr int ReceiveBufferBytes = 4 << 20;
constexpr int WaitMilliseconds = 100;
// Datagrams taken in one wait: a program that writes without pause still
// lets the wait return, so that the listener sees its end and shows what
// came.
constexpr int MaxTextsPerWait = 256;

class SocketMonitor : public DebugOutputMonitor {
 public:
  SocketMonitor(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~SocketMonitor() override {
    close(fd_);
    unlink(path_.c_str());
  }

  bool wait(std::vector<DebugOutputText>* texts, std::string* error) override {
    pollfd ready{fd_, POLLIN, 0};
    const int result = poll(&ready, 1, WaitMilliseconds);
    if (result < 0 && errno != EINTR) {
      *error = std::strerror(errno);
      return false;
    }
    char datagram[32 + trovex::win32::PipeHelloMaxName + trovex::win32::DebugOutputMaxText];
    for (int taken = 0; taken < MaxTextsPerWait; ++taken) {
      const ssize_t length = recv(fd_, datagram, sizeof datagram, MSG_DONTWAIT);
      if (length < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
        *error = std::strerror(errno);
        return false;
      }
      // process id, zero, program, zero, text; anything else is no sender of ours
      const char* end = datagram + length;
      const char* pidEnd = static_cast<const char*>(std::memchr(datagram, '\0', size_t(length)));
      const char* nameEnd = pidEnd ? static_cast<const char*>(std::memchr(pidEnd + 1, '\0', size_t(end - pidEnd - 1))) : nullptr;
      if (!nameEnd) continue;
      DebugOutputText text{static_cast<uint32_t>(std::strtoul(datagram, nullptr, 10)),
                           std::string(pidEnd + 1, nameEnd), std::string(nameEnd + 1, end)};
      if (text.program.empty()) text.program = "?";
      texts->push_back(std::move(text));
    }
    return true;
  }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

std::unique_ptr<DebugOutputMonitor> monitorDebugOutput(std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!trovex::win32::debugOutputSocketPath(address.sun_path, sizeof address.sun_path)) {
    *error = "the shared folder's path (XDG_RUNTIME_DIR/trovex) is too long for a socket";
    return nullptr;
  }
  if (!trovex::win32::securePipeFolder(true)) {
    *error = std::string("the pipe folder: ") + std::strerror(errno);
    return nullptr;
  }
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (bound != 0 && errno == EADDRINUSE) {
    // A socket file left by a listener that has ended refuses a datagram:
    // take its place. One that takes it belongs to a listener that runs.
    const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool stale = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
                       errno == ECONNREFUSED;
    if (probe >= 0) close(probe);
    if (stale && unlink(address.sun_path) == 0) bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    else errno = EADDRINUSE;
  }
  if (bound != 0) {
    *error = errno == EADDRINUSE ? "another listener takes it" : std::strerror(errno);
    close(fd);
    return nullptr;
  }
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBufferBytes, sizeof ReceiveBufferBytes);
  return std::make_unique<SocketMonitor>(fd, address.sun_path);
}
