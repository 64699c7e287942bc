// Files and the standard handles, emulated over POSIX file descriptors.
#pragma once

#include "platform/posix/win32_types.h"

namespace trovex::win32 {

#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define FILE_ATTRIBUTE_COMPRESSED 0x00000800u
#define FILE_ATTRIBUTE_OFFLINE 0x00001000u
#define FILE_ATTRIBUTE_ENCRYPTED 0x00004000u

#define FILE_TYPE_UNKNOWN 0x0000u
#define FILE_TYPE_DISK 0x0001u
#define FILE_TYPE_CHAR 0x0002u
#define FILE_TYPE_PIPE 0x0003u

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

// A time as 100-nanosecond intervals since 1601-01-01, split in two halves.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
typedef FILETIME* LPFILETIME;
typedef const FILETIME* LPCFILETIME;

HANDLE WINAPI GetStdHandle(DWORD which);
// Replaces a standard handle for the later GetStdHandle calls of this process.
BOOL WINAPI SetStdHandle(DWORD which, HANDLE handle);

// Share modes hold between the handles of this process only: POSIX has no way
// to keep another program from opening a file, so only Windows enforces them
// against other programs. A name "\\.\pipe\NAME" opens the client end of
// the named pipe NAME: a local stream socket in the user's own folder
// (platform/posix/pipes.h), which trovex-view --listen serves. Without a
// server the open fails with ERROR_FILE_NOT_FOUND, as on Windows.
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID data, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
// Waits until the named pipe has a free instance: a socket's queue of
// connections frees as its server takes them, which nothing announces, so
// this waits a short while, at most `timeout` milliseconds, and says yes.
BOOL WINAPI WaitNamedPipeA(LPCSTR name, DWORD timeout);
// The pipe's wait mode for a client: with PIPE_NOWAIT a write takes what the
// pipe has room for at once and reports that count (0 when full) instead of
// waiting for its reader. Only the mode is supported; the other two must be null.
#define PIPE_WAIT 0x0u
#define PIPE_NOWAIT 0x1u
// Hands the text to trovex-view --listen when one runs (common/pipe.h), else
// to no one, as Windows does with no debugger and no monitor.
void WINAPI OutputDebugStringA(LPCSTR text);
BOOL WINAPI SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount, LPDWORD collectDataTimeout);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD WINAPI GetFileType(HANDLE file);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
// POSIX keeps no settable creation time: a creation time is ignored.
BOOL WINAPI SetFileTime(HANDLE file, LPCFILETIME creation, LPCFILETIME access, LPCFILETIME write);

}  // namespace trovex::win32
