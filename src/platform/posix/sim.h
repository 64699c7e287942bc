// Test controls of the POSIX emulation. Only tests include this header; the
// Windows build has no counterpart, so tests that need it run natively only.
#pragma once

#include "platform/posix/sim_system.h"
#include "platform/win32.h"

namespace trovex::win32 {

namespace sim {

// Makes calls of the emulated Win32 function `name` fail with `error` as the
// last error: the next `skip` calls succeed, then `times` calls fail (0: every
// call from then on). Arming a name again replaces its earlier setting.
void failCall(const char* name, unsigned skip, unsigned times, DWORD error);

// Makes one WriteFile call end short: the next `skip` calls write in full,
// then one call writes at most `bytes` bytes and reports them as written.
// With `error` 0 that call succeeds with the short count (as a write to a
// nearly full pipe may); otherwise it fails with `error` as the last error
// (as a write that fills the disk does). Up to four can be armed at once,
// each counting the calls from its own arming.
void shortWrite(unsigned skip, DWORD bytes, DWORD error);
// Makes one ReadFile call end short: the next `skip` calls read in full, then
// one call reads at most `bytes` bytes and succeeds with that count, as a read
// of a file that another process cuts meanwhile does. Armed entries count
// against the same four as shortWrite's.
void shortRead(unsigned skip, DWORD bytes);

// Starts counting the calls of the emulated Win32 function `name` from 0;
// callCount tells how many were made since (failed ones included).
void countCalls(const char* name);
unsigned callCount(const char* name);

// How many texts OutputDebugStringA has given up so far (a listener that
// stayed behind past the wait), for a test whose monitor may be descheduled
// on a loaded machine.
unsigned debugOutputGivenUp();

// Makes GetStdHandle return null for every standard handle (or not).
void nullStdHandles(bool on);
// Makes GetStdHandle return null for one standard handle (STD_*_HANDLE).
void nullStdHandle(DWORD which);

// Makes GetFileType report every file opened by name as a character device
// (or not), so that a test can read what a line-buffered stream wrote.
void treatFilesAsCharDevices(bool on);

// Fixes the local time that GetLocalTime reports at *time; null lets the
// running clock through again.
void fixLocalTime(const SYSTEMTIME* time);
// Moves GetTickCount forward by `milliseconds`, for good (reset does not
// take it back: a clock never runs backwards), so that a test need not wait
// out an interval.
void advanceTicks(DWORD milliseconds);
// Empties the emulated registry; the next registry call seeds it from the
// environment again, as the first one of a process does.
void resetRegistry();

// Switches every control off.
void reset();

}  // namespace sim

}  // namespace trovex::win32
