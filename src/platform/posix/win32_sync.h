// Critical sections, emulated with recursive POSIX mutexes, and named
// mutexes that hold between processes.
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

// A named mutex, shared by every process of the user that opens the same
// name: a robust, recursive POSIX mutex in a file of the pipe folder
// (common/pipe.h), so that a process that dies holding it leaves it
// abandoned, not locked for good. Only named mutexes, created unowned, are
// emulated; a name's "Local\\" or "Global\\" prefix is left out.
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
// Waits for a mutex of CreateMutexA: WAIT_OBJECT_0 when taken, WAIT_ABANDONED
// when taken from an owner that died, WAIT_TIMEOUT, or WAIT_FAILED.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// FALSE (ERROR_NOT_OWNER) when the calling thread does not own the mutex.
BOOL WINAPI ReleaseMutex(HANDLE mutex);
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

}  // namespace trovex::win32
