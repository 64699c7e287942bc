// Critical sections, emulated with recursive POSIX mutexes.
#pragma once

#include <pthread.h>

#include "platform/posix/win32_types.h"

// A lock that its owning thread may enter again, as on Windows.
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
  DWORD spinCount;          // looks at `held` before a waiting thread sleeps
  int held;                 // some thread is inside (atomic access): waiters read it, so they spin
                            // on a shared line; plain int, so the record stays a C struct as on Windows
  int spinning;             // a waiter is spinning (atomic access); the others sleep at once
  LONG RecursionCount;      // the owner's entries (Windows' name); only the owner touches it, and it
                            // is written before the mutex is released, so the next owner sees it at 0
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
// A section whose EnterCriticalSection tries up to spinCount times while
// another thread holds it before it sleeps. Always succeeds.
BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
// Enters without waiting when no other thread holds the section; FALSE otherwise.
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);
