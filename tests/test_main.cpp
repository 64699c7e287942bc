// The unit tests link the library's objects into the test program. Natively
// the emulation's loader runs the module entry; a Windows program does not
// call DllMain of its own, so the test program does it, as a loader would.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "runtime_folder.h"

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);
#endif

int main(int argc, char** argv) {
#if defined(_WIN32)
  DllMain(GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH, nullptr);
#endif
#if !defined(_WIN32)
  const trovex::OwnRuntimeFolder runtimeFolder;
#endif
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
#if defined(_WIN32)
  DllMain(GetModuleHandleA(nullptr), DLL_PROCESS_DETACH, nullptr);
#endif
  return result;
}
