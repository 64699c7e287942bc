// Test controls of the POSIX emulation. Only tests include this header; the
// Windows build has no counterpart, so tests that need it run natively only.
#pragma once

#include "platform/win32.h"

namespace sim {

// Makes calls of the emulated Win32 function `name` fail with `error` as the
// last error: the next `skip` calls succeed, then `times` calls fail (0: every
// call from then on). Arming a name again replaces its earlier setting.
void failCall(const char* name, unsigned skip, unsigned times, DWORD error);

// Makes GetStdHandle return null for every standard handle (or not).
void nullStdHandles(bool on);

// Switches every control off.
void reset();

}  // namespace sim
