// Critical sections as recursive POSIX mutexes: the owning thread may enter
// again, and only the owner may leave, as on Windows.
#include "common/contract.h"
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

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
  InitializeCriticalSectionAndSpinCount(section, 0);
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount) {
  initRecursiveMutex(&section->mutex);
  section->spinCount = spinCount;
  __atomic_store_n(&section->held, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&section->spinning, 0, __ATOMIC_RELAXED);
  section->RecursionCount = 0;
  return TRUE;
}

namespace {
void entered(LPCRITICAL_SECTION section) {
  if (section->RecursionCount++ == 0) __atomic_store_n(&section->held, 1, __ATOMIC_RELAXED);
}
}  // namespace

// The owner enters again at once. Another thread watches `held` with plain
// reads, which leave the lock's line with its owner, for up to spinCount
// turns, tries the mutex when it looks free, and sleeps on it after that.
// One waiter spins at a time: with more threads than cores, a second spinner
// mostly takes the core that the owner needs to finish, and each spinner
// costs the processor time that a sleeping waiter does not.
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
  if (pthread_mutex_trylock(&section->mutex) != 0) {
    bool acquired = false;
    if (section->spinCount > 0 && !__atomic_load_n(&section->spinning, __ATOMIC_RELAXED) &&
        !__atomic_exchange_n(&section->spinning, 1, __ATOMIC_ACQUIRE)) {
      for (DWORD spins = section->spinCount; spins > 0 && !acquired; --spins) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        acquired = !__atomic_load_n(&section->held, __ATOMIC_RELAXED) && pthread_mutex_trylock(&section->mutex) == 0;
      }
      __atomic_store_n(&section->spinning, 0, __ATOMIC_RELEASE);
    }
    if (!acquired) pthread_mutex_lock(&section->mutex);
  }
  entered(section);
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  if (pthread_mutex_trylock(&section->mutex) != 0) return FALSE;
  entered(section);
  return TRUE;
}

// The bookkeeping comes first: once the mutex is released another thread may
// enter and write it.
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
  TROVEX_ASSERT(section->RecursionCount > 0);
  if (--section->RecursionCount == 0) __atomic_store_n(&section->held, 0, __ATOMIC_RELAXED);
  pthread_mutex_unlock(&section->mutex);
}

// The POSIX mutex is left usable: it holds no resource to release, and unlike
// a Windows process at exit, a POSIX process still runs its other threads
// while the library unloads, so one may be on its way into the lock.
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION) {}
