// The places the emulation shares between the user's processes: the shared
// folder, where pipes and the debug output are sockets, and the debug
// channel's first fallback file. Both follow the user's runtime folder
// (XDG_RUNTIME_DIR: per user, only its user may enter it, cleared at
// log-out) when the environment names one, so that two sessions, or a test
// run beside the user's own listener, each have their own; else they are
// the user's fixed places in /tmp.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "common/pipe.h"
#include "platform/posix/pipes.h"
#include "platform/paths.h"
#include "platform/posix/pipes.h"

namespace trovex {

namespace {

// The longest shared folder: one that leaves room in a socket's address for
// "/" and the debug-output socket's name, which every listener binds there.
constexpr size_t SharedFolderMaxLength = sizeof(sockaddr_un::sun_path) - 1 - sizeof win32::DebugOutputSocketName;

// XDG_RUNTIME_DIR when it names a folder; a relative path names none, as the
// convention has it.
const char* userRuntimeFolder() {
  const char* folder = std::getenv("XDG_RUNTIME_DIR");
  return folder && folder[0] == '/' ? folder : nullptr;
}

}  // namespace

const char* const* channelFallbackFiles() {
  static char first[PATH_MAX];
  static const char* const* files = [] {
    // A runtime folder too long for a path leaves the name empty, which no
    // open takes: the next fallback stands in, not the place in /tmp that
    // other sessions share.
    const char* runtime = userRuntimeFolder();
    const int length = runtime ? std::snprintf(first, sizeof first, "%s/%s", runtime, ChannelFallbackName)
                               : std::snprintf(first, sizeof first, "/tmp/%s", ChannelFallbackName);
    if (length < 0 || static_cast<size_t>(length) >= sizeof first) first[0] = '\0';
    static const char* const list[ChannelFallbackCount] = {first, ChannelFallbackName};
    return list;
  }();
  return files;
}

namespace win32 {

bool sharedFolder(char* folder, size_t size) {
  const char* runtime = userRuntimeFolder();
  const int length = runtime ? std::snprintf(folder, size, "%s/trovex", runtime)
                             : std::snprintf(folder, size, "/tmp/trovex-%u", static_cast<unsigned>(getuid()));
  if (length < 0 || static_cast<size_t>(length) >= size || static_cast<size_t>(length) > SharedFolderMaxLength) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

bool isPrivateFolder(const char* folder) {
  struct stat status;
  if (lstat(folder, &status) != 0) return false;
  if (!S_ISDIR(status.st_mode) || status.st_uid != getuid() || (status.st_mode & 077)) {
    errno = EACCES;
    return false;
  }
  return true;
}

bool securePipeFolder(bool create) {
  char folder[sizeof(sockaddr_un::sun_path)];
  if (!sharedFolder(folder, sizeof folder)) return false;
  if (create && mkdir(folder, 0700) != 0 && errno != EEXIST) return false;
  return isPrivateFolder(folder);
}

bool sharedFilePath(const char* name, char* path, size_t size) {
  if (!securePipeFolder(true)) return false;
  char folder[sizeof(sockaddr_un::sun_path)];
  if (!sharedFolder(folder, sizeof folder)) return false;
  const int length = std::snprintf(path, size, "%s/%s", folder, name);
  if (length < 0 || static_cast<size_t>(length) >= size) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

}  // namespace win32

}  // namespace trovex
