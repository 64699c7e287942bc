// Loading and unloading the library again and again leaves nothing behind:
// no handle on Windows, no file descriptor natively.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>

#include <cstdint>
#else
#include <dirent.h>
#include <dlfcn.h>
#endif

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

bool loadAndUnload() {
  void* library = dlopen(TROVEX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!library) return false;
  const bool exported = dlsym(library, "Trovex_Info_i") != nullptr;
  return dlclose(library) == 0 && exported;
}
#endif

TEST(Reload, TwoHundredLoadsLeaveNoHandleBehind) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(loadAndUnload());  // the loader's own first-time costs
  const long before = openHandles();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(loadAndUnload()) << i;
  EXPECT_LT(openHandles() - before, 5) << "a leak per load would show 200 or more";
}

}  // namespace
