// Forwarding on POSIX: sockets, the host name, localtime_r's offset.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/network.h"

namespace {

std::string errnoText() { return std::strerror(errno); }

class SocketConnection : public Connection {
 public:
  SocketConnection(int fd, bool stream) : fd_(fd), stream_(stream) {}
  ~SocketConnection() override { close(fd_); }

  bool send(const std::string& bytes, std::string* error) override {
    size_t done = 0;
    bool refused = false;
    while (done < bytes.size()) {
      // No SIGPIPE when the collector has gone: the error says so.
      const ssize_t sent = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      // The refusal of an earlier datagram (where no collector listens)
      // comes back at the next send, which it keeps from leaving: once more.
      if (sent < 0 && errno == ECONNREFUSED && !stream_ && !refused) {
        refused = true;
        continue;
      }
      if (sent < 0) {
        *error = errno == EAGAIN || errno == EWOULDBLOCK ? "the collector takes nothing" : errnoText();
        return false;
      }
      done += static_cast<size_t>(sent);
    }
    return true;
  }

  bool closed() override {
    if (!stream_) return false;
    pollfd look{fd_, POLLIN, 0};
    return poll(&look, 1, 0) > 0;
  }

 private:
  int fd_;
  bool stream_;
};

// Connects fd to address within the connect limit.
bool connectWithin(int fd, const addrinfo* address, std::string* error) {
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  if (connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      *error = errnoText();
      return false;
    }
    pollfd look{fd, POLLOUT, 0};
    if (poll(&look, 1, ConnectTimeoutMilliseconds) <= 0) {
      *error = "no answer";
      return false;
    }
    int failure = 0;
    socklen_t size = sizeof failure;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size);
    if (failure != 0) {
      *error = std::strerror(failure);
      return false;
    }
  }
  fcntl(fd, F_SETFL, flags);
  return true;
}

}  // namespace

std::unique_ptr<Connection> connectTo(Transport transport, const std::string& host, uint16_t port,
                                      std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = transport == Transport::Tcp ? SOCK_STREAM : SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (lookup != 0) {
    *error = gai_strerror(lookup);
    return nullptr;
  }
  std::unique_ptr<Connection> connection;
  for (const addrinfo* address = found; address && !connection; address = address->ai_next) {
    const int fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
    if (fd < 0) {
      *error = errnoText();
      continue;
    }
    const timeval limit{SendTimeoutMilliseconds / 1000, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (connectWithin(fd, address, error)) connection = std::make_unique<SocketConnection>(fd, transport == Transport::Tcp);
    else close(fd);
  }
  freeaddrinfo(found);
  return connection;
}

std::string machineName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return "-";
  return name;
}

int utcOffsetMinutes(std::time_t when) {
  std::tm local{};
  if (!localtime_r(&when, &local)) return 0;
  return static_cast<int>(local.tm_gmtoff / 60);
}

uint32_t currentProcessId() { return static_cast<uint32_t>(getpid()); }
