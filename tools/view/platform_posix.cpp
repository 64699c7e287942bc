// The viewer on POSIX: sources over file descriptors, read after poll()
// with a short limit; files by device, inode and birth time; the locale's
// character set and iconv.
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <fstream>

#include "platform.h"
#include "common/pipe.h"

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

bool fileIdentity(const std::string& path, FileIdentity* identity) {
  struct statx look {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &look) != 0) return false;
  identity->device = (uint64_t{look.stx_dev_major} << 32) | look.stx_dev_minor;
  identity->index = look.stx_ino;
  identity->bornNanoseconds =
      (look.stx_mask & STATX_BTIME) ? look.stx_btime.tv_sec * int64_t{1000000000} + look.stx_btime.tv_nsec : 0;
  return true;
}

std::string terminalEncoding() {
  std::setlocale(LC_CTYPE, "");
  return nl_langinfo(CODESET);
}

namespace {

class IconvRecoder : public Recoder {
 public:
  explicit IconvRecoder(iconv_t converter) : converter_(converter) {}
  ~IconvRecoder() override { iconv_close(converter_); }
  void fromUtf8(std::string_view text, std::string* out) override {
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buffer[4096];
    while (inLeft > 0) {
      char* next = buffer;
      size_t room = sizeof buffer;
      const size_t done = iconv(converter_, &in, &inLeft, &next, &room);
      out->append(buffer, static_cast<size_t>(next - buffer));
      if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
      // A character the encoding lacks even approximately: "?", and on
      // after the whole UTF-8 sequence.
      out->push_back('?');
      do {
        ++in;
        --inLeft;
      } while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
    }
  }

 private:
  iconv_t converter_;
};

}  // namespace

std::unique_ptr<Recoder> openRecoder(const std::string& encoding) {
  const iconv_t converter = iconv_open((encoding + "//TRANSLIT").c_str(), "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return std::make_unique<IconvRecoder>(converter);
}

namespace {

constexpr size_t PipeReadBytes = 65536;

std::string errnoText() { return std::strerror(errno); }

// The program's file name: of its executable, or (a process that has ended
// and not yet been reaped has none) the name the kernel keeps for it.
std::string programOf(pid_t pid) {
  char link[PATH_MAX];
  const std::string proc = "/proc/" + std::to_string(pid);
  const ssize_t length = readlink((proc + "/exe").c_str(), link, sizeof link - 1);
  if (length > 0) {
    const std::string path(link, static_cast<size_t>(length));
    return path.substr(path.rfind('/') + 1);
  }
  std::string name;
  std::getline(std::ifstream(proc + "/comm"), name);
  return name.empty() ? "?" : name;
}

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
      *error = errnoText();
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
      writers_.push_back({fd, ++lastId_, static_cast<uint32_t>(peer.pid), programOf(peer.pid), false, {}});
    }
  }

  // A writer's bytes: its hello first, when it says one, then data.
  void receive(Writer* writer, std::string bytes, std::vector<PipeEvent>* events) {
    if (!writer->introduced) {
      writer->start += bytes;
      bytes.clear();
      const std::string& start = writer->start;
      const bool hello = start[0] == PipeHelloMark;
      const size_t end = hello ? start.find(PipeHelloMark, 1) : std::string::npos;
      if (hello && end == std::string::npos && start.size() < PipeHelloMaxName + 2) return;  // more to come
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
  if (!pipeSocketPath(name.c_str(), address.sun_path, sizeof address.sun_path)) {
    *error = errno == EINVAL ? "a pipe name is not empty and holds no \"/\"" : "the name is too long";
    return nullptr;
  }
  if (!securePipeFolder(true)) {
    *error = errno == EACCES ? "the folder of the pipes is not the user's own, or others may enter it" : errnoText();
    return nullptr;
  }
  const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (server < 0) {
    *error = errnoText();
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
    *error = errnoText();
    close(server);
    return nullptr;
  }
  return std::make_unique<SocketListener>(server, address.sun_path);
}
