// Files and directories by name: attributes, deletion, the current and the
// temporary directory, directory entries and local file times.
#pragma once

#include "platform/posix/win32_file.h"

namespace trovex::win32 {

#define MAX_PATH 260
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;

// Attributes that POSIX can keep: a directory, and read-only as the owner's
// write permission. Every other file reports FILE_ATTRIBUTE_ARCHIVE, as a
// freshly written file does on Windows; the other attributes have no place
// to be kept and are ignored when set.
DWORD WINAPI GetFileAttributesA(LPCSTR name);
BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes);
BOOL WINAPI DeleteFileA(LPCSTR name);
DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer);
// The directory named by TMPDIR, else /tmp, with a trailing separator.
DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer);
// Looks up exactly the name given: there are no wildcards.
HANDLE WINAPI FindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindClose(HANDLE find);
// Both conversions use the time zone's current offset from UTC, as Windows does.
BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localTime);
BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* localTime, LPFILETIME fileTime);

}  // namespace trovex::win32
