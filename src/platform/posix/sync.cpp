// Kernel mutexes as recursive POSIX mutexes: the owning thread may wait again,
// and only the owner may release, as with a Win32 mutex.
#include <cerrno>
#include <new>

#include "platform/posix/handles.h"

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR) {
  if (simShouldFail("CreateMutexA")) return nullptr;
  HandleObject* object = new (std::nothrow) HandleObject{HandleKind::Mutex, -1, {}};
  if (!object) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&object->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  if (initialOwner) pthread_mutex_lock(&object->mutex);
  return object;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  if (simShouldFail("WaitForSingleObject")) return WAIT_FAILED;
  HandleObject* object = handleObject(handle, HandleKind::Mutex);
  if (!object) return WAIT_FAILED;
  if (milliseconds == INFINITE) {
    pthread_mutex_lock(&object->mutex);
    return WAIT_OBJECT_0;
  }
  // Only the two waits the library could make: forever, or a poll.
  return pthread_mutex_trylock(&object->mutex) == 0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WINAPI ReleaseMutex(HANDLE handle) {
  if (simShouldFail("ReleaseMutex")) return FALSE;
  HandleObject* object = handleObject(handle, HandleKind::Mutex);
  if (!object) return FALSE;
  if (pthread_mutex_unlock(&object->mutex) != 0) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}
