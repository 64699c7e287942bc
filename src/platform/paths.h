// The platform's rules for file names: the separator the library puts between
// a directory and a name, which characters end a directory, and which names
// stand on their own instead of joining a directory. The one place outside
// win32.h that knows which platform it is on.
#pragma once

#include <cstring>

#if defined(_WIN32)

constexpr char PathSeparator = '\\';

// Windows accepts both slashes between the parts of a path.
inline bool isPathSeparator(char c) { return c == '\\' || c == '/'; }

// A name with a drive ("D:\x\a.txt", "D:a.txt") replaces the directory.
inline bool nameReplacesDirectory(const char* name) { return std::strchr(name, ':') != nullptr; }

#else

constexpr char PathSeparator = '/';

inline bool isPathSeparator(char c) { return c == '/'; }

// An absolute name replaces the directory.
inline bool nameReplacesDirectory(const char* name) { return name[0] == '/'; }

#endif
