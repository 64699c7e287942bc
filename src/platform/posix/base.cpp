// The last-error value, handle closing and module notifications.
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/handles.h"

namespace trovex::win32 {

namespace {
thread_local DWORD lastError = 0;
}

DWORD WINAPI GetLastError() { return lastError; }
void WINAPI SetLastError(DWORD error) { lastError = error; }

HandleObject* handleObject(HANDLE handle, HandleKind kind) {
  HandleObject* object = static_cast<HandleObject*>(handle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || object->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

HandleObject* fileLikeObject(HANDLE handle) {
  HandleObject* object = static_cast<HandleObject*>(handle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      (object->kind != HandleKind::File && object->kind != HandleKind::Std)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

DWORD win32ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ESPIPE: return ERROR_INVALID_FUNCTION;
    case EACCES: case EPERM: case EISDIR: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EBUSY: case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case ENOSPC: return ERROR_DISK_FULL;
    case EDQUOT: return ERROR_NOT_ENOUGH_QUOTA;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EPIPE: case ECONNRESET: return ERROR_NO_DATA;  // a pipe whose other end has gone
    default: return ERROR_INVALID_PARAMETER;
  }
}

DWORD missingNameError(const char* name) {
  // Windows tells a missing file from a missing directory; POSIX says ENOENT for both.
  const char* slash = std::strrchr(name, '/');
  if (!slash || slash == name) return ERROR_FILE_NOT_FOUND;
  char directory[PATH_MAX];
  const size_t length = static_cast<size_t>(slash - name);
  if (length >= sizeof directory) return ERROR_PATH_NOT_FOUND;
  std::memcpy(directory, name, length);
  directory[length] = '\0';
  struct stat status;
  return stat(directory, &status) == 0 && S_ISDIR(status.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                   : ERROR_PATH_NOT_FOUND;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  if (simShouldFail("CloseHandle")) return FALSE;
  HandleObject* object = static_cast<HandleObject*>(handle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  switch (object->kind) {
    case HandleKind::Std:
      // The process's standard descriptors outlive every handle to them.
      return TRUE;
    case HandleKind::File:
      closeFileObject(object);
      return TRUE;
    case HandleKind::Mutex:
      closeMutexObject(object);
      return TRUE;
    case HandleKind::Find:
      // A search handle is closed with FindClose only.
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
  }
  delete object;
  return TRUE;
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE) {
  // The emulation never sends thread notifications.
  return TRUE;
}

}  // namespace trovex::win32
