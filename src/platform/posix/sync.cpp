// Critical sections as recursive POSIX mutexes: the owning thread may enter
// again, and only the owner may leave, as on Windows.
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

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) { initRecursiveMutex(&section->mutex); }
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_lock(&section->mutex); }
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) { return pthread_mutex_trylock(&section->mutex) == 0; }
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_unlock(&section->mutex); }
// The POSIX mutex is left usable: it holds no resource to release, and unlike
// a Windows process at exit, a POSIX process still runs its other threads
// while the library unloads, so one may be on its way into the lock.
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION) {}
