// The viewer on POSIX: sources over file descriptors, read after poll()
// with a short limit; files by device, inode and birth time; the locale's
// character set and iconv.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <clocale>
#include <cstring>
#include <fstream>

#include "platform/platform.h"

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
    *error = lastSystemError();
    return ReadFailed;
  }
  int fd_;
  bool owned_;
};

}  // namespace

std::string lastSystemError() { return std::strerror(errno); }

std::unique_ptr<ByteSource> openSerialPort(const std::string& device, std::string* error) {
  const int fd = open(device.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = lastSystemError();
    return nullptr;
  }
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) {
    *error = errno == ENOTTY ? "not a terminal device" : lastSystemError();
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
    *error = lastSystemError();
    close(fd);
    return nullptr;
  }
  return std::make_unique<DescriptorSource>(fd, true);
}

std::unique_ptr<ByteSource> openStandardInput() { return std::make_unique<DescriptorSource>(STDIN_FILENO, false); }

namespace {

const int EndSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Set in the handler, read by every thread: lock-free, so the handler may.
std::atomic<bool> endSignalled{false};
extern "C" void onEndSignal(int) { endSignalled.store(true); }

sigset_t endSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : EndSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

void catchEndSignals() {
  struct sigaction action {};
  action.sa_handler = onEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a write that waits returns EINTR
  for (int signal : EndSignals) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

bool endRequested() { return endSignalled.load(); }

namespace {
// Lock-free, so the handler may set it; taken by exchange, so a SIGHUP that
// comes while it is taken is not lost.
std::atomic<bool> reopenSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);
extern "C" void onReopenSignal(int) { reopenSignalled.store(true); }
}  // namespace

void catchReopenSignal() {
  struct sigaction action {};
  action.sa_handler = onReopenSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // the output goes on: nothing it waits in ends
  sigaction(SIGHUP, &action, nullptr);
}

bool colourByAttributes() { return false; }
void setOutputColour(int, bool) {}

bool reopenRequested() { return reopenSignalled.exchange(false); }

bool writeStandardOutput(const char* data, size_t size) {
  while (size > 0) {
    // Waiting in poll rather than in write: a pipe that polls writable takes
    // PIPE_BUF bytes at once, and an end signal is seen within
    // PollMilliseconds, though it came just before the wait. After one, what
    // is left goes out while the output takes it (the table of --stats).
    pollfd ready{STDOUT_FILENO, POLLOUT, 0};
    const int count = poll(&ready, 1, PollMilliseconds);
    if (count == 0 && endSignalled) return false;
    if (count == 0 || (count < 0 && errno == EINTR)) continue;
    const ssize_t wrote = count < 0 ? -1 : write(STDOUT_FILENO, data, std::min(size, size_t{PIPE_BUF}));
    if (wrote > 0) {
      data += wrote;
      size -= static_cast<size_t>(wrote);
    } else if (!(wrote < 0 && (errno == EINTR || errno == EAGAIN))) {
      return false;  // EPIPE (the reader went away), or another failure
    }
  }
  return true;
}

std::thread startWorker(std::function<void()> work) {
  const sigset_t ends = endSignals();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &ends, &previous);  // the new thread starts with them blocked
  std::thread worker(std::move(work));
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return worker;
}

// Of its executable, or (a process that has ended and not yet been reaped
// has none) the name the kernel keeps for it.
std::string programOf(uint32_t pid) {
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

