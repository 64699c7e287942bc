// Files and the standard handles, emulated over POSIX file descriptors.
#pragma once

#include "platform/posix/win32_types.h"

#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

HANDLE WINAPI GetStdHandle(DWORD which);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
