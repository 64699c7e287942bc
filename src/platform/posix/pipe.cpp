// The client end of a named pipe: a connection to the local stream socket
// that the pipe's server listens on (pipes.h).
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/pipe.h"
#include "common/texts.h"
#include "platform/posix/handles.h"
#include "platform/posix/pipes.h"

namespace {

constexpr char PipeFolderFormat[] = "/tmp/trovex-%u";
// How long WaitNamedPipeA waits for a server to take its queued connections.
constexpr DWORD PipeQueueWaitMilliseconds = 10;

int pipeFolder(char* folder, size_t size) {
  return std::snprintf(folder, size, PipeFolderFormat, static_cast<unsigned>(getuid()));
}

// Sends the hello (pipes.h) with the executable's file name.
bool introduce(int fd) {
  char hello[PATH_MAX + 2];
  const ssize_t length = readlink("/proc/self/exe", hello + 1, sizeof hello - 2);
  const char* slash = length > 0 ? static_cast<const char*>(memrchr(hello + 1, '/', size_t(length))) : nullptr;
  const char* name = slash ? slash + 1 : hello + 1;
  size_t size = length > 0 ? size_t(hello + 1 + length - name) : 0;
  if (size > PipeHelloMaxName) size = PipeHelloMaxName;
  std::memmove(hello + 1, name, size);
  hello[0] = hello[size + 1] = PipeHelloMark;
  ssize_t sent;
  do sent = send(fd, hello, size + 2, MSG_NOSIGNAL);
  while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(size + 2);
}

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
  if (!*name || std::strchr(name, '/')) {
    errno = EINVAL;
    return false;
  }
  char folder[32];
  pipeFolder(folder, sizeof folder);
  const int length = std::snprintf(path, size, "%s/%s", folder, name);
  if (length < 0 || static_cast<size_t>(length) >= size || static_cast<size_t>(length) >= sizeof(sockaddr_un::sun_path)) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

bool securePipeFolder(bool create) {
  char folder[32];
  pipeFolder(folder, sizeof folder);
  if (create && mkdir(folder, 0700) != 0 && errno != EEXIST) return false;
  struct stat status;
  if (lstat(folder, &status) != 0) return false;
  if (!S_ISDIR(status.st_mode) || status.st_uid != getuid() || (status.st_mode & 077)) {
    errno = EACCES;
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
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
  SetLastError(ERROR_SUCCESS);
  return object;
}

BOOL WINAPI WaitNamedPipeA(LPCSTR, DWORD timeout) {
  const DWORD wait = timeout < PipeQueueWaitMilliseconds ? timeout : PipeQueueWaitMilliseconds;
  const timespec pause{0, static_cast<long>(wait) * 1000000L};
  nanosleep(&pause, nullptr);
  return TRUE;
}
