// The process heap, emulated with the C allocator.
#pragma once

#include <cstddef>

#include "platform/posix/win32_types.h"

namespace trovex::win32 {

#define HEAP_ZERO_MEMORY 0x00000008u

typedef size_t SIZE_T;

HANDLE WINAPI GetProcessHeap();
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

}  // namespace trovex::win32
