// Files and directories by name: attributes, the current and the temporary
// directory, directory entries, and file times in UTC and local time.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/handles.h"

namespace trovex::win32 {

namespace {

constexpr uint64_t TicksPerSecond = 10000000;
constexpr uint64_t TicksTo1970 = 116444736000000000ull;  // from 1601-01-01 to 1970-01-01

DWORD attributesOf(const struct stat& status) {
  DWORD attributes = S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!(status.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

// Fails a lookup of `name` with the error Windows gives for errno.
void setNameError(const char* name, int error) {
  SetLastError(error == ENOENT ? missingNameError(name) : win32ErrorFromErrno(error));
}

// Copies text into a caller's buffer of `size` characters as the Win32 path
// queries do: the length without the NUL if it fits, else the size needed.
DWORD copyPath(const char* text, DWORD size, LPSTR buffer) {
  const size_t length = std::strlen(text);
  if (length >= size) return static_cast<DWORD>(length + 1);
  std::memcpy(buffer, text, length + 1);
  return static_cast<DWORD>(length);
}

// The offset of local time from UTC now, in ticks.
int64_t localOffsetTicks() {
  const time_t now = time(nullptr);
  struct tm local;
  if (!localtime_r(&now, &local)) return 0;
  return static_cast<int64_t>(local.tm_gmtoff) * static_cast<int64_t>(TicksPerSecond);
}

void shiftFileTime(const FILETIME* from, LPFILETIME to, int64_t ticks) {
  const uint64_t value = ((uint64_t{from->dwHighDateTime} << 32) | from->dwLowDateTime) + static_cast<uint64_t>(ticks);
  to->dwLowDateTime = static_cast<DWORD>(value);
  to->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

}  // namespace

struct timespec timespecFromFileTime(const FILETIME* time) {
  const uint64_t ticks = (uint64_t{time->dwHighDateTime} << 32) | time->dwLowDateTime;
  const int64_t since1970 = static_cast<int64_t>(ticks - TicksTo1970);
  int64_t seconds = since1970 / static_cast<int64_t>(TicksPerSecond);
  int64_t rest = since1970 % static_cast<int64_t>(TicksPerSecond);
  if (rest < 0) rest += TicksPerSecond, --seconds;
  struct timespec result;
  result.tv_sec = static_cast<time_t>(seconds);
  result.tv_nsec = static_cast<long>(rest * 100);
  return result;
}

FILETIME fileTimeFromTimespec(const struct timespec& time) {
  const uint64_t ticks = static_cast<uint64_t>(static_cast<int64_t>(time.tv_sec) * static_cast<int64_t>(TicksPerSecond) +
                                               time.tv_nsec / 100) + TicksTo1970;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD WINAPI GetFileAttributesA(LPCSTR name) {
  if (simShouldFail("GetFileAttributesA")) return INVALID_FILE_ATTRIBUTES;
  struct stat status;
  if (stat(name, &status) != 0) {
    setNameError(name, errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  return attributesOf(status);
}

BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes) {
  if (simShouldFail("SetFileAttributesA")) return FALSE;
  struct stat status;
  if (stat(name, &status) != 0) {
    setNameError(name, errno);
    return FALSE;
  }
  // Read-only is the one attribute POSIX keeps, as the write permission; a
  // directory stays writable, since on Windows the attribute does not keep
  // files out of it.
  if (S_ISDIR(status.st_mode)) return TRUE;
  mode_t mode = status.st_mode & 07777;
  mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
  if (chmod(name, mode) != 0) {
    setNameError(name, errno);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  if (simShouldFail("GetCurrentDirectoryA")) return 0;
  char path[PATH_MAX];
  if (!getcwd(path, sizeof path)) {
    SetLastError(win32ErrorFromErrno(errno));
    return 0;
  }
  return copyPath(path, size, buffer);
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  if (simShouldFail("GetTempPathA")) return 0;
  const char* directory = std::getenv("TMPDIR");
  if (!directory || !*directory) directory = "/tmp";
  const size_t length = std::strlen(directory);
  if (directory[length - 1] == '/') return copyPath(directory, size, buffer);
  if (length + 1 >= size) return static_cast<DWORD>(length + 2);
  std::memcpy(buffer, directory, length);
  buffer[length] = '/';
  buffer[length + 1] = '\0';
  return static_cast<DWORD>(length + 1);
}

HANDLE WINAPI FindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data) {
  if (simShouldFail("FindFirstFileA")) return INVALID_HANDLE_VALUE;
  struct stat status;
  if (stat(name, &status) != 0) {
    setNameError(name, errno);
    return INVALID_HANDLE_VALUE;
  }
  HandleObject* object = new (std::nothrow) HandleObject{HandleKind::Find, -1, {}};
  if (!object) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = attributesOf(status);
  // POSIX keeps no creation time; the time of the last status change stands in.
  data->ftCreationTime = fileTimeFromTimespec(status.st_ctim);
  data->ftLastAccessTime = fileTimeFromTimespec(status.st_atim);
  data->ftLastWriteTime = fileTimeFromTimespec(status.st_mtim);
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  const char* slash = std::strrchr(name, '/');
  const char* entry = slash ? slash + 1 : name;
  std::strncpy(data->cFileName, entry, MAX_PATH - 1);
  return object;
}

BOOL WINAPI FindClose(HANDLE find) {
  HandleObject* object = handleObject(find, HandleKind::Find);
  if (!object) return FALSE;
  delete object;
  return TRUE;
}

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localTime) {
  if (simShouldFail("FileTimeToLocalFileTime")) return FALSE;
  shiftFileTime(fileTime, localTime, localOffsetTicks());
  return TRUE;
}

BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* localTime, LPFILETIME fileTime) {
  if (simShouldFail("LocalFileTimeToFileTime")) return FALSE;
  shiftFileTime(localTime, fileTime, -localOffsetTicks());
  return TRUE;
}

}  // namespace trovex::win32
