// The one door to the operating system. The library is Win32 code: on Windows
// this is <windows.h> itself; elsewhere it is a small emulation of the calls the
// library makes, with the results and error codes the library relies on.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/posix/win32_posix.h"
#endif
