// One process of the debug channel's black-box test. It configures the
// channel as a user would (the registry on Windows, the environment
// elsewhere), sends standard error to a file, loads the library, emits two
// messages, unloads it, checks that the channel's file can then be opened
// without sharing, and does it all once more.
//
//   channel_scenario OUTDIR USE TYPE PATH|-
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "trovex.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

using VPrintf = int(TROVEX_CALL*)(const char*, const char*, const char*, va_list);

#if defined(_WIN32)
HMODULE library;
void* load() {
  library = LoadLibraryA("trovex0x1.dll");
  return library ? reinterpret_cast<void*>(GetProcAddress(library, "Trovex_VPrintf_ssss")) : nullptr;
}
void unload() { FreeLibrary(library); }
#else
void* library;
void* load() {
  library = dlopen(TROVEX_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  return library ? dlsym(library, "Trovex_VPrintf_ssss") : nullptr;
}
void unload() { dlclose(library); }
#endif

void emit(VPrintf print, const char* type, const char* id, const char* format, ...) {
  va_list args;
  va_start(args, format);
  print(type, id, format, args);
  va_end(args);
}

void configure(const char* use, const char* type, const char* path) {
#if defined(_WIN32)
  HKEY key;
  RegCreateKeyExA(HKEY_CURRENT_USER, "qz\\kprintf", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  const DWORD useValue = std::strtoul(use, nullptr, 0), typeValue = std::strtoul(type, nullptr, 0);
  RegSetValueExA(key, "use", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&useValue), 4);
  RegSetValueExA(key, "type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&typeValue), 4);
  if (path) RegSetValueExA(key, "path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), static_cast<DWORD>(std::strlen(path) + 1));
  RegCloseKey(key);
#else
  setenv("TROVEX_CHANNEL_USE", use, 1);
  setenv("TROVEX_CHANNEL_TYPE", type, 1);
  if (path) setenv("TROVEX_CHANNEL_PATH", path, 1);
#endif
}

void removeConfiguration() {
#if defined(_WIN32)
  RegDeleteKeyA(HKEY_CURRENT_USER, "qz\\kprintf");
#endif
}

bool redirectStandardError(const std::string& name) {
#if defined(_WIN32)
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  return file != INVALID_HANDLE_VALUE && SetStdHandle(STD_ERROR_HANDLE, file);
#else
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  return fd >= 0 && dup2(fd, 2) == 2;
#endif
}

bool openableWithoutSharing(const char* path) {
#if defined(_WIN32)
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
#else
  (void)path;  // POSIX keeps no other process out of a file: nothing to see here
  return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: channel_scenario OUTDIR USE TYPE PATH|-\n");
    return 2;
  }
  const std::string outDir = argv[1];
  const char* path = std::string(argv[4]) == "-" ? nullptr : argv[4];
  if (!redirectStandardError(outDir + "/stderr.txt")) return 3;
  configure(argv[2], argv[3], path);
  int status = 0;
  for (int round = 0; round < 2 && status == 0; ++round) {
    VPrintf print = reinterpret_cast<VPrintf>(load());
    if (!print) return 4;
    emit(print, "w", "ID", "hello %d\n", round);
    emit(print, "e", "ID", "\x1b[31mred\x1b[0m\n");
    unload();
    if (path && !openableWithoutSharing(path)) status = 5;  // unloading must release the channel's file
  }
  removeConfiguration();
  return status;
}
