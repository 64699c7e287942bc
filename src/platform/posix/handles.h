// Inside the emulation: what a HANDLE points at, and helpers shared by the
// emulated calls. Library code never includes this.
#pragma once

#include <ctime>
#include <pthread.h>
#include <sys/types.h>

#include "platform/posix/win32_posix.h"

namespace trovex::win32 {

enum class HandleKind { Std, File, Find, Mutex };

struct HandleObject {
  HandleKind kind;
  int fd;                              // Std, File: the descriptor
  DWORD access = 0;                    // File: GENERIC_READ and GENERIC_WRITE as opened
  DWORD shareMode = 0;                 // File: FILE_SHARE_* bits as opened
  dev_t device = 0;                    // File: the open file's identity, for share modes
  ino_t inode = 0;                     // File: as device
  mode_t type = 0;                     // File: the S_IFMT bits, which do not change while open; S_IFSOCK for a pipe
  bool pipeNoWait = false;             // pipe: writes take what fits at once (PIPE_NOWAIT)
  unsigned pipeGeneration = 0;         // pipe: pipeForkGeneration when it connected
  HandleObject* nextOpen = nullptr;    // File, Mutex: the next of the process's open files or mutexes
  pthread_mutex_t* sharedMutex = nullptr;  // Mutex: the mutex in its file's mapping
};

// The object behind a handle, or null (last error ERROR_INVALID_HANDLE) when
// the handle is null, INVALID_HANDLE_VALUE or not of the wanted kind.
HandleObject* handleObject(HANDLE handle, HandleKind kind);
HandleObject* fileLikeObject(HANDLE handle);  // Std or File

// A File object for fd, all else zero; null when memory is lacking (file.cpp).
HandleObject* newFileObject(int fd);
// Closes a File object's descriptor, forgets it as an open file and frees
// the object (file.cpp).
void closeFileObject(HandleObject* object);

// Unmaps a Mutex object's mutex and frees the object (mutex.cpp).
void closeMutexObject(HandleObject* object);

// CreateFileA of the pipe `name` (after "\\.\pipe\"): a File object of
// type S_IFSOCK connected to the pipe's server (pipe.cpp).
HANDLE openPipeClient(const char* name, DWORD access);
// Counts the forks of this process (in the child). A pipe connected in a
// parent is the parent's: its server knows the parent's process id, so a
// child that writes into it would be taken for the parent.
unsigned pipeForkGeneration();

// The Win32 error code for a POSIX errno value.
DWORD win32ErrorFromErrno(int error);
// The error for a name that does not exist: ERROR_PATH_NOT_FOUND when its
// directory is missing too, else ERROR_FILE_NOT_FOUND.
DWORD missingNameError(const char* name);

// A FILETIME as POSIX time and back (names.cpp).
struct timespec timespecFromFileTime(const FILETIME* time);
FILETIME fileTimeFromTimespec(const struct timespec& time);

#if defined(TROVEX_SIM)
// True when a test armed a failure for this call of `name`; the last error is then set.
bool simShouldFail(const char* name);
// True when a test fixed the local time; *time is then that time.
bool simFixedLocalTime(SYSTEMTIME* time);
// Milliseconds a test moved GetTickCount forward.
DWORD simTickOffset();
// How many bytes of a ReadFile or WriteFile call (`name`) of `size` bytes to
// transfer before the call ends short, and with which last error (0: the call
// succeeds with the short count). Returns false when none is armed for this call.
bool simShortCall(const char* name, DWORD size, DWORD* bytes, DWORD* error);
// Bit 0 input, 1 output, 2 error: GetStdHandle gives null for that handle.
extern unsigned nullStandardHandles;
// GetFileType reports files opened by name as character devices.
extern bool filesAsCharDevices;
#else
// The shipped emulation has no test controls: every call goes to the system.
inline bool simShouldFail(const char*) { return false; }
inline bool simFixedLocalTime(SYSTEMTIME*) { return false; }
inline DWORD simTickOffset() { return 0; }
inline bool simShortCall(const char*, DWORD, DWORD*, DWORD*) { return false; }
constexpr unsigned nullStandardHandles = 0;
constexpr bool filesAsCharDevices = false;
#endif

}  // namespace trovex::win32
