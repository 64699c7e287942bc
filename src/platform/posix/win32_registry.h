// The registry, emulated in process: keys and values live in memory for the
// life of the process. So that the library can be configured where there is
// no registry, the debug channel's key is seeded from the environment when
// the process first touches the registry (registry.cpp says how).
#pragma once

#include "platform/posix/win32_types.h"

namespace trovex::win32 {

struct RegistryKey;
typedef RegistryKey* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

// Access rights are recorded by nobody: every open key can be read and written.
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_OPTION_NON_VOLATILE 0x0u
#define REG_CREATED_NEW_KEY 0x1u
#define REG_OPENED_EXISTING_KEY 0x2u

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_BINARY 3u
#define REG_DWORD 4u

#define ERROR_MORE_DATA 234L
#define ERROR_KEY_DELETED 1018L

// Results are error codes (ERROR_SUCCESS on success); the last error is not set.
LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                               REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LSTATUS WINAPI RegCloseKey(HKEY key);
// A value larger than *size fails with ERROR_MORE_DATA, writes nothing and
// sets *size to the size needed. The data comes back as stored, text that
// was stored without its terminator with one added where there is room.
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, BYTE* data, LPDWORD size);
// Text (REG_SZ) whose size leaves out a terminator that follows it is
// stored with the terminator.
LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
// Fails with ERROR_ACCESS_DENIED while the key has subkeys, as on Windows.
LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey);

}  // namespace trovex::win32
