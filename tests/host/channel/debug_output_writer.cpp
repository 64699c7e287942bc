// A program that is no trovex host: it passes three lines to
// OutputDebugStringA, a call each and no newline, as a program's own
// diagnostics do. With "hold SECONDS" it holds the system's debug-output
// protocol instead, as a debugger's monitor does, and says "holding" once it
// does. With "flood" it passes lines without pause until it is killed, and
// says "flooding" before the first.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

#if !defined(_WIN32)
using namespace trovex::win32;

// The emulation calls a module's entry as a DLL's loader would; this
// program is no module of the library's, so its entry does nothing.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
#if defined(_WIN32)
    HANDLE ready = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    if (!ready) return 1;
    std::printf("holding\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::atoi(argv[2]) * 1000));
    CloseHandle(ready);
    return 0;
#else
    return 2;  // natively another listener holds it
#endif
  }
  if (argc == 2 && std::strcmp(argv[1], "flood") == 0) {
    std::printf("flooding\n");
    std::fflush(stdout);
    for (unsigned long i = 0;; ++i) {
      char text[64];
      std::snprintf(text, sizeof text, "flood line %lu", i);
      OutputDebugStringA(text);
    }
  }
  for (int i = 1; i <= 3; ++i) {
    char text[64];
    std::snprintf(text, sizeof text, "foreign line %d of 3", i);
    OutputDebugStringA(text);
  }
#if defined(_WIN32)
  Sleep(200);  // the listener finds the program's name by the process while it runs
#endif
  return 0;
}
