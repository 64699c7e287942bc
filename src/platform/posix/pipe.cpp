// The client end of a named pipe: a connection to the local stream socket
// that the pipe's server listens on (pipes.h).
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/pipe.h"
#include "common/texts.h"
#include "platform/posix/handles.h"
#include "platform/posix/pipes.h"
#include "platform/posix/sim.h"

namespace trovex::win32 {

namespace {

// How long WaitNamedPipeA waits for a server to take its queued connections.
constexpr DWORD PipeQueueWaitMilliseconds = 10;

// The executable's file name into name (at most PipeHelloMaxName bytes,
// not terminated); its length, 0 when it cannot be found.
size_t programName(char* name) {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0) return 0;
  const char* slash = static_cast<const char*>(memrchr(path, '/', size_t(length)));
  const char* start = slash ? slash + 1 : path;
  size_t size = size_t(path + length - start);
  if (size > PipeHelloMaxName) size = PipeHelloMaxName;
  std::memcpy(name, start, size);
  return size;
}

// Sends the hello (common/pipe.h) with the executable's file name.
bool introduce(int fd) {
  char hello[PipeHelloMaxName + 2];
  const size_t size = programName(hello + 1);
  hello[0] = hello[size + 1] = PipeHelloMark;
  ssize_t sent;
  do sent = send(fd, hello, size + 2, MSG_NOSIGNAL);
  while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(size + 2);
}

unsigned forkGeneration = 0;
void countFork() { ++forkGeneration; }  // in the child, which has one thread
[[maybe_unused]] const bool forkCounted = [] { return pthread_atfork(nullptr, nullptr, countFork) == 0; }();

HANDLE failOpen(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

const char* pipeNameOf(const char* path) {
  const size_t length = sizeof PipePathPrefix - 1;
  return path && strncasecmp(path, PipePathPrefix, length) == 0 ? path + length : nullptr;
}

bool pipeSocketPath(const char* name, char* path, size_t size) {
  if (!*name || std::strchr(name, '/') || std::strcmp(name, DebugOutputSocketName) == 0) {
    errno = EINVAL;
    return false;
  }
  char folder[sizeof(sockaddr_un::sun_path)];
  if (!sharedFolder(folder, sizeof folder)) return false;
  const int length = std::snprintf(path, size, "%s/%s", folder, name);
  if (length < 0 || static_cast<size_t>(length) >= size || static_cast<size_t>(length) >= sizeof(sockaddr_un::sun_path)) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

// Called by CreateFileA for a pipe's name. The handle writes with send(),
// so that a server gone away fails the write (ERROR_NO_DATA) instead of
// ending the process with SIGPIPE.
HANDLE openPipeClient(const char* name, DWORD access) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!pipeSocketPath(name, address.sun_path, sizeof address.sun_path)) return failOpen(ERROR_INVALID_NAME);
  // No folder (no server ever ran) or a folder not the user's own: no pipe.
  if (!securePipeFolder(false)) return failOpen(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
  // Connected without waiting: a server whose queue of connections is full
  // (it stopped taking them) makes the open fail with ERROR_PIPE_BUSY, as a
  // pipe with no free instance does, instead of holding the caller.
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return failOpen(win32ErrorFromErrno(errno));
  int result;
  do result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    close(fd);
    // A socket file left by a server that has ended refuses: no pipe either.
    if (error == ENOENT || error == ECONNREFUSED) return failOpen(ERROR_FILE_NOT_FOUND);
    return failOpen(error == EAGAIN ? ERROR_PIPE_BUSY : win32ErrorFromErrno(error));
  }
  // Writes wait for the reader again unless the handle asks otherwise.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!introduce(fd)) {
    close(fd);
    return failOpen(ERROR_NO_DATA);
  }
  HandleObject* object = newFileObject(fd);
  if (!object) {
    close(fd);
    return failOpen(ERROR_NOT_ENOUGH_MEMORY);
  }
  object->access = access;
  object->type = S_IFSOCK;
  object->pipeGeneration = pipeForkGeneration();
  SetLastError(ERROR_SUCCESS);
  return object;
}

unsigned pipeForkGeneration() { return forkGeneration; }

BOOL WINAPI SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount, LPDWORD collectDataTimeout) {
  HandleObject* object = handleObject(pipe, HandleKind::File);
  if (!object) return FALSE;
  if (object->type != S_IFSOCK || maxCollectionCount || collectDataTimeout || (mode && (*mode & ~PIPE_NOWAIT))) {
    SetLastError(object->type != S_IFSOCK ? ERROR_INVALID_FUNCTION : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (mode) object->pipeNoWait = (*mode & PIPE_NOWAIT) != 0;
  return TRUE;
}

BOOL WINAPI WaitNamedPipeA(LPCSTR, DWORD timeout) {
  const DWORD wait = timeout < PipeQueueWaitMilliseconds ? timeout : PipeQueueWaitMilliseconds;
  const timespec pause{0, static_cast<long>(wait) * 1000000L};
  nanosleep(&pause, nullptr);
  return TRUE;
}

bool debugOutputSocketPath(char* path, size_t size) {
  char folder[sizeof(sockaddr_un::sun_path)];
  if (!sharedFolder(folder, sizeof folder)) return false;
  const int length = std::snprintf(path, size, "%s/%s", folder, DebugOutputSocketName);
  if (length < 0 || static_cast<size_t>(length) >= size || static_cast<size_t>(length) >= sizeof(sockaddr_un::sun_path)) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

namespace {
std::atomic<unsigned> debugOutputGivenUpCount{0};
}  // namespace

#if defined(TROVEX_SIM)
unsigned sim::debugOutputGivenUp() { return debugOutputGivenUpCount.load(); }
#endif

void WINAPI OutputDebugStringA(LPCSTR text) {
  if (!text) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!debugOutputSocketPath(address.sun_path, sizeof address.sun_path) || !securePipeFolder(false)) return;
  char datagram[16 + PipeHelloMaxName + DebugOutputMaxText];
  size_t length = static_cast<size_t>(std::snprintf(datagram, 16, "%u", static_cast<unsigned>(getpid()))) + 1;
  length += programName(datagram + length);
  datagram[length++] = '\0';
  const size_t textLength = strnlen(text, DebugOutputMaxText);
  std::memcpy(datagram + length, text, textLength);
  length += textLength;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  // The listener's queue holds a few datagrams only: a full one is waited
  // for a little, as a pipe's writer waits; a listener that stays behind
  // loses the text, the caller no more than the wait.
  constexpr int QueueWaitMilliseconds = 50;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
      if (send(fd, datagram, length, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0 || (errno != EAGAIN && errno != EINTR)) break;
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      const long waited = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
      if (waited >= QueueWaitMilliseconds) {
        ++debugOutputGivenUpCount;
        break;
      }
      pollfd room{fd, POLLOUT, 0};
      poll(&room, 1, int(QueueWaitMilliseconds - waited));
    }
  }
  close(fd);
}

}  // namespace trovex::win32
