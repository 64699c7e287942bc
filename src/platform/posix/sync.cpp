// Kernel mutexes and critical sections as recursive POSIX mutexes: the owning
// thread may wait or enter again, and only the owner may release, as on Windows.
#include <cerrno>
#include <new>

#include "platform/posix/handles.h"

namespace {
void initRecursiveMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}
}  // namespace

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR) {
  if (simShouldFail("CreateMutexA")) return nullptr;
  HandleObject* object = new (std::nothrow) HandleObject{};
  if (!object) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  object->kind = HandleKind::Mutex;
  initRecursiveMutex(&object->mutex);
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

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) { initRecursiveMutex(&section->mutex); }
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_lock(&section->mutex); }
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) { return pthread_mutex_trylock(&section->mutex) == 0; }
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_unlock(&section->mutex); }
// The POSIX mutex is left usable: it holds no resource to release, and unlike
// a Windows process at exit, a POSIX process still runs its other threads
// while the library unloads, so one may be on its way into the lock.
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION) {}
