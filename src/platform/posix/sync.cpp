// Critical sections as recursive POSIX mutexes: the owning thread may enter
// again, and only the owner may leave, as on Windows. A waiting thread sleeps
// at once; the spin count, a hint on Windows, is not used (the library asks
// for none).
#include "common/contract.h"
#include "platform/posix/handles.h"

namespace trovex::win32 {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&section->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  section->RecursionCount = 0;
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD) {
  InitializeCriticalSection(section);
  return TRUE;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutex_lock(&section->mutex);
  ++section->RecursionCount;
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  if (pthread_mutex_trylock(&section->mutex) != 0) return FALSE;
  ++section->RecursionCount;
  return TRUE;
}

// The count comes first: once the mutex is released another thread may enter
// and write it.
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
  TROVEX_ASSERT(section->RecursionCount > 0);
  --section->RecursionCount;
  pthread_mutex_unlock(&section->mutex);
}

// The POSIX mutex is left usable: it holds no resource to release, and unlike
// a Windows process at exit, a POSIX process still runs its other threads
// while the library unloads, so one may be on its way into the lock.
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION) {}

}  // namespace trovex::win32
