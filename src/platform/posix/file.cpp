// The standard handles and writing through a handle.
#include <cerrno>
#include <unistd.h>

#include "platform/posix/handles.h"

extern bool nullStandardHandles;  // sim.cpp

namespace {
HandleObject standardHandles[3] = {
    {HandleKind::Std, 0, {}}, {HandleKind::Std, 1, {}}, {HandleKind::Std, 2, {}}};
}

HANDLE WINAPI GetStdHandle(DWORD which) {
  if (nullStandardHandles) return nullptr;
  switch (which) {
    case STD_INPUT_HANDLE: return &standardHandles[0];
    case STD_OUTPUT_HANDLE: return &standardHandles[1];
    case STD_ERROR_HANDLE: return &standardHandles[2];
    default:
      SetLastError(ERROR_INVALID_HANDLE);
      return INVALID_HANDLE_VALUE;
  }
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  if (simShouldFail("WriteFile")) return FALSE;
  HandleObject* object = fileLikeObject(handle);
  if (!object) return FALSE;
  const char* bytes = static_cast<const char*>(data);
  DWORD done = 0;
  while (done < size) {
    ssize_t n = write(object->fd, bytes + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(win32ErrorFromErrno(errno));
      if (written) *written = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  return TRUE;
}
