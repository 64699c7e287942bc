// Directories and names: the current and the temporary directory, joining a
// name onto a directory, and comparing names as the file system does.
#include <cstring>

#include "fileio/fileio.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace trovex {

namespace {

char tempPathBuffer[TempPathSize];  // tempDirectory's buffer when the caller gives none

// Upper case by the Windows-1252 rule: a-z, and the Latin-1 small letters
// 0xE0 to 0xFE except the division sign 0xF7. 0xFF has no capital in Latin-1.
inline unsigned foldCase(unsigned char c) {
  if (c >= 'a' && c <= 'z') return c - 0x20u;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20u;
  return c;
}

}  // namespace

int currentDirectory(char* buffer, uint32_t size) {
  const DWORD length = GetCurrentDirectoryA(size, buffer);
  if (length == 0) {
    recordLastError();
    return 0;
  }
  // A longer path reports the size it needs and leaves the buffer unfilled.
  if (length >= size) {
    recordSystemError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return 1;
}

char* tempDirectory(char* buffer, uint32_t size) {
  if (!buffer) {
    buffer = tempPathBuffer;
    size = TempPathSize;
  }
  // One character of the buffer is kept back from GetTempPathA.
  if (size < 2) {
    recordSystemError(ERROR_INSUFFICIENT_BUFFER);
    return nullptr;
  }
  const DWORD length = GetTempPathA(size - 1, buffer);
  if (length == 0) {
    recordLastError();
    return nullptr;
  }
  if (length >= size - 1) {
    recordSystemError(ERROR_INSUFFICIENT_BUFFER);
    return nullptr;
  }
  return buffer;
}

int joinPath(char* directory, const char* name, uint32_t size) {
  if (size == 0) return 0;
  size_t d = std::strlen(directory);
  const size_t n = std::strlen(name);
  if (nameReplacesDirectory(name)) d = 0;
  if (d > 0 && !isPathSeparator(directory[d - 1])) {
    if (d + 1 + n >= size) return 0;
    directory[d] = PathSeparator;
    std::memcpy(directory + d + 1, name, n + 1);
  } else {
    if (d + n >= size) return 0;
    std::memmove(directory + d, name, n + 1);
  }
  return 1;
}

int compareNames(const char* first, const char* second) {
  const unsigned char* a = reinterpret_cast<const unsigned char*>(first);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(second);
  for (;; ++a, ++b) {
    const unsigned fa = NamesIgnoreCase ? foldCase(*a) : *a;
    const unsigned fb = NamesIgnoreCase ? foldCase(*b) : *b;
    if (fa != fb || *a == '\0') return static_cast<int>(fa) - static_cast<int>(fb);
  }
}

uint64_t nameKey(const char* name) {
  // FNV-1a over the name as compareNames sees it.
  uint64_t key = 0xcbf29ce484222325u;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(name); *at; ++at) {
    key ^= NamesIgnoreCase ? foldCase(*at) : *at;
    key *= 0x100000001b3u;
  }
  return key;
}

}  // namespace trovex
