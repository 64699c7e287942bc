// Inside the emulation: what a HANDLE points at, and helpers shared by the
// emulated calls. Library code never includes this.
#pragma once

#include <pthread.h>

#include "platform/posix/win32_posix.h"

enum class HandleKind { Std, File, Mutex };

struct HandleObject {
  HandleKind kind;
  int fd;                 // Std, File: the descriptor
  pthread_mutex_t mutex;  // Mutex: recursive, so the owner may wait again
};

// The object behind a handle, or null (last error ERROR_INVALID_HANDLE) when
// the handle is null, INVALID_HANDLE_VALUE or not of the wanted kind.
HandleObject* handleObject(HANDLE handle, HandleKind kind);
HandleObject* fileLikeObject(HANDLE handle);  // Std or File

// The Win32 error code for a POSIX errno value.
DWORD win32ErrorFromErrno(int error);

// True when a test armed a failure for this call of `name`; the last error is then set.
bool simShouldFail(const char* name);
