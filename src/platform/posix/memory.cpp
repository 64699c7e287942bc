// The process heap as the C allocator.
#include <cstdlib>

#include "platform/posix/handles.h"

namespace trovex::win32 {

namespace {
int processHeap;  // only its address is used, as the heap's handle
}

HANDLE WINAPI GetProcessHeap() { return &processHeap; }

LPVOID WINAPI HeapAlloc(HANDLE, DWORD flags, SIZE_T size) {
  if (simShouldFail("HeapAlloc")) return nullptr;
  // Zero bytes still give a unique block, as on Windows.
  if (size == 0) size = 1;
  return (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, size) : std::malloc(size);
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID memory) {
  std::free(memory);
  return TRUE;
}

}  // namespace trovex::win32
