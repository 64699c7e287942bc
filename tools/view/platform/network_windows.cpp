// Forwarding on Windows: Winsock, the DNS host name, the time zone's bias.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "platform/network.h"

namespace {

std::string socketErrorText(int code) {
  char text[256] = {};
  if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                      0, text, sizeof text - 1, nullptr))
    return "error " + std::to_string(code);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message;
}

// Winsock is started once for the process and left to its end.
bool startWinsock(std::string* error) {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) *error = socketErrorText(started);
  return started == 0;
}

class SocketConnection : public Connection {
 public:
  SocketConnection(SOCKET socket, bool stream) : socket_(socket), stream_(stream) {}
  ~SocketConnection() override { closesocket(socket_); }

  bool send(const std::string& bytes, std::string* error) override {
    size_t done = 0;
    bool refused = false;
    while (done < bytes.size()) {
      const int sent = ::send(socket_, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
      if (sent == SOCKET_ERROR) {
        const int code = WSAGetLastError();
        // The refusal of an earlier datagram (where no collector listens)
        // comes back at a later call: once more.
        if (code == WSAECONNRESET && !stream_ && !refused) {
          refused = true;
          continue;
        }
        *error = code == WSAETIMEDOUT ? "the collector takes nothing" : socketErrorText(code);
        return false;
      }
      done += static_cast<size_t>(sent);
    }
    return true;
  }

  bool closed() override {
    if (!stream_) return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval now{0, 0};
    return select(0, &readable, nullptr, nullptr, &now) != 0;
  }

 private:
  SOCKET socket_;
  bool stream_;
};

bool connectWithin(SOCKET socket, const addrinfo* address, std::string* error) {
  u_long nonBlocking = 1;
  ioctlsocket(socket, FIONBIO, &nonBlocking);
  if (connect(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      *error = socketErrorText(WSAGetLastError());
      return false;
    }
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit{ConnectTimeoutMilliseconds / 1000, ConnectTimeoutMilliseconds % 1000 * 1000};
    if (select(0, nullptr, &writable, &failed, &limit) <= 0) {
      *error = "no answer";
      return false;
    }
    if (FD_ISSET(socket, &failed)) {
      int failure = 0;
      int size = sizeof failure;
      getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &size);
      *error = socketErrorText(failure ? failure : WSAECONNREFUSED);
      return false;
    }
  }
  nonBlocking = 0;
  ioctlsocket(socket, FIONBIO, &nonBlocking);
  return true;
}

}  // namespace

std::unique_ptr<Connection> connectTo(Transport transport, const std::string& host, uint16_t port,
                                      std::string* error) {
  if (!startWinsock(error)) return nullptr;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = transport == Transport::Tcp ? SOCK_STREAM : SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (lookup != 0) {
    *error = socketErrorText(lookup);
    return nullptr;
  }
  std::unique_ptr<Connection> connection;
  for (const addrinfo* address = found; address && !connection; address = address->ai_next) {
    const SOCKET socket = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (socket == INVALID_SOCKET) {
      *error = socketErrorText(WSAGetLastError());
      continue;
    }
    const DWORD limit = SendTimeoutMilliseconds;
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    if (connectWithin(socket, address, error)) connection = std::make_unique<SocketConnection>(socket, transport == Transport::Tcp);
    else closesocket(socket);
  }
  freeaddrinfo(found);
  return connection;
}

std::string machineName() {
  char name[256] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size) || !name[0]) return "-";
  return name;
}

int utcOffsetMinutes(std::time_t when) {
  // The local time and UTC of the same instant, both read as UTC.
  std::tm local = *std::localtime(&when);
  std::tm utc = *std::gmtime(&when);
  local.tm_isdst = utc.tm_isdst = 0;
  return static_cast<int>(std::difftime(_mkgmtime(&local), _mkgmtime(&utc)) / 60);
}

uint32_t currentProcessId() { return GetCurrentProcessId(); }
