// Loading and unloading the library again and again leaves nothing behind:
// no handle on Windows, no file descriptor natively, and no memory.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#else
#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>
#endif

namespace trovex {

namespace {

#if defined(_WIN32)
// Probes every handle value up to 65536: GetProcessHandleCount is not
// implemented everywhere (Wine reports 0).
long openHandles() {
  long count = 0;
  for (uintptr_t value = 4; value < 65536; value += 4) {
    DWORD flags;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

// Private memory committed by the process.
long memoryInUse() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof counters))
    return 0;
  return static_cast<long>(counters.PrivateUsage);
}

// Found beside the test program, where the build puts the DLL.
bool loadAndUnload() {
  HMODULE library = LoadLibraryA("trovex0x1.dll");
  if (!library) return false;
  const bool exported = GetProcAddress(library, "Trovex_Info_i") != nullptr;
  return FreeLibrary(library) && exported;
}
#else
long openHandles() {
  DIR* directory = opendir("/proc/self/fd");
  if (!directory) return -1;
  long count = 0;
  while (readdir(directory)) ++count;
  closedir(directory);
  return count;
}

// Bytes allocated with malloc and not freed (under AddressSanitizer 0; its
// leak check covers the same at exit).
long memoryInUse() { return static_cast<long>(mallinfo2().uordblks); }

bool loadAndUnload() {
  void* library = dlopen(TROVEX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!library) return false;
  const bool exported = dlsym(library, "Trovex_Info_i") != nullptr;
  return dlclose(library) == 0 && exported;
}
#endif

TEST(Reload, TwoHundredLoadsLeaveNoHandleOrMemoryBehind) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(loadAndUnload());  // the loader's own first-time costs
  const long before = openHandles();
  const long memoryBefore = memoryInUse();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(loadAndUnload()) << i;
  EXPECT_LT(openHandles() - before, 5) << "a leak per load would show 200 or more";
  // The standard streams alone hold three buffers of 8 KB: left behind,
  // they would show as about 5 MB.
  EXPECT_LT(memoryInUse() - memoryBefore, 1L << 20);
}

}  // namespace

}  // namespace trovex
