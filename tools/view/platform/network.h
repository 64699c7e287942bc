// What forwarding takes from the operating system: a connection to a
// collector over TCP or UDP (POSIX sockets, Winsock on Windows), the
// machine's name, the local time's offset from UTC and the viewer's own
// process id.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

enum class Transport { Tcp, Udp };

class Connection {
 public:
  virtual ~Connection() = default;
  // Sends all of bytes: a stream's bytes, or one datagram. Waits at most
  // SendTimeoutMilliseconds; false, with the reason in `error`, when the
  // connection is lost (a stream is then of no more use).
  virtual bool send(const std::string& bytes, std::string* error) = 0;
  // A stream whose other side has closed it, or that has failed: what is
  // sent into it now would be lost without notice. A collector never
  // writes, so anything it reads means the end.
  virtual bool closed() = 0;
};

// A collector that takes nothing for this long is taken for lost.
constexpr unsigned SendTimeoutMilliseconds = 5000;
// A TCP connection that is not made within this time is not made.
constexpr unsigned ConnectTimeoutMilliseconds = 3000;

// Connects to host and port (a name, an IPv4 or an IPv6 address); for UDP
// only the address is looked up. Null, with the reason in `error`, when it
// cannot be reached.
std::unique_ptr<Connection> connectTo(Transport transport, const std::string& host, uint16_t port,
                                      std::string* error);

// The machine's name as the network knows it ("-" when none is known).
std::string machineName();
// Minutes east of UTC of the local time at `when`.
int utcOffsetMinutes(std::time_t when);
uint32_t currentProcessId();
