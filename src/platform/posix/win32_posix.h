// Declarations of the Win32 subset the library uses, implemented over POSIX
// in this folder. Grouped by area; each area's header lists its functions.
#pragma once

#include "platform/posix/win32_types.h"
#include "platform/posix/win32_sync.h"
#include "platform/posix/win32_file.h"
#include "platform/posix/win32_names.h"
#include "platform/posix/win32_memory.h"
#include "platform/posix/win32_system.h"
#include "platform/posix/win32_time.h"
#include "platform/posix/win32_registry.h"
#include "platform/posix/win32_comm.h"

namespace trovex::win32 {

// Every object of the library refers to the loader, so that a static link pulls
// it in and the module entry runs at load as it does for a DLL.
extern const int posixModuleLoaderLinked;
[[maybe_unused, gnu::used]] static const int* const posixModuleLoaderAnchor = &posixModuleLoaderLinked;

// The library's module entry; the loader calls it at load and unload.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

}  // namespace trovex::win32

// The library is Win32 code: inside it, the emulated calls are named as on
// Windows, where they are global.
namespace trovex {
using namespace win32;
}  // namespace trovex
