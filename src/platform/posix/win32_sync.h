// Critical sections, emulated with recursive POSIX mutexes.
#pragma once

#include <pthread.h>

#include "platform/posix/win32_types.h"

namespace trovex::win32 {

// A lock that its owning thread may enter again, as on Windows.
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
  LONG RecursionCount;  // the owner's entries (Windows' name); only the owner touches it, and it
                        // is written before the mutex is released, so the next owner sees it at 0
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
// The same; the spin count is a hint this emulation does not use. Always succeeds.
BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
// Enters without waiting when no other thread holds the section; FALSE otherwise.
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);

}  // namespace trovex::win32
