// Sources over POSIX file descriptors, read after poll() with a short limit.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "source.h"

namespace {

constexpr int PollMilliseconds = 100;

class DescriptorSource : public ByteSource {
 public:
  DescriptorSource(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~DescriptorSource() override {
    if (owned_) close(fd_);
  }
  long read(char* buffer, size_t size, std::string* error) override {
    pollfd ready{fd_, POLLIN, 0};
    const int count = poll(&ready, 1, PollMilliseconds);
    if (count == 0 || (count < 0 && errno == EINTR)) return 0;
    if (count < 0) return fail(error);
    const ssize_t got = ::read(fd_, buffer, size);
    if (got > 0) return static_cast<long>(got);
    if (got == 0) return EndOfInput;
    if (errno == EINTR || errno == EAGAIN) return 0;
    // A terminal whose other side has closed reports EIO: the end of its input.
    if (errno == EIO) return EndOfInput;
    return fail(error);
  }

 private:
  static long fail(std::string* error) {
    *error = std::strerror(errno);
    return ReadFailed;
  }
  int fd_;
  bool owned_;
};

}  // namespace

std::unique_ptr<ByteSource> openSerialPort(const std::string& device, std::string* error) {
  const int fd = open(device.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    *error = errno == ENOTTY ? "not a terminal device" : std::strerror(errno);
    close(fd);
    return nullptr;
  }
  cfmakeraw(&settings);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (cfsetispeed(&settings, B19200) != 0 || cfsetospeed(&settings, B19200) != 0 ||
      tcsetattr(fd, TCSANOW, &settings) != 0) {
    *error = std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::make_unique<DescriptorSource>(fd, true);
}

std::unique_ptr<ByteSource> openStandardInput() { return std::make_unique<DescriptorSource>(STDIN_FILENO, false); }

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }
