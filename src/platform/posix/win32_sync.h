// Kernel mutexes, waiting and critical sections, emulated with recursive
// POSIX mutexes.
#pragma once

#include <pthread.h>

#include "platform/posix/win32_types.h"

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);
BOOL WINAPI ReleaseMutex(HANDLE mutex);

// A lock that its owning thread may enter again, as on Windows.
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
// Enters without waiting when no other thread holds the section; FALSE otherwise.
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);
