// The platform's rules for file names: the separator the library puts between
// a directory and a name, which characters end a directory, which names
// stand on their own instead of joining a directory, whether letter case
// tells two names apart; and the names of the
// debug channel's devices. The one place outside win32.h that knows which
// platform it is on.
#pragma once

#include <cstring>

namespace trovex {

#if defined(_WIN32)

constexpr char PathSeparator = '\\';

// Windows accepts both slashes between the parts of a path.
inline bool isPathSeparator(char c) { return c == '\\' || c == '/'; }

// A name with a drive ("D:\x\a.txt", "D:a.txt") replaces the directory.
inline bool nameReplacesDirectory(const char* name) { return std::strchr(name, ':') != nullptr; }

// The file system takes "LOG.txt" and "log.txt" for the same file.
constexpr bool NamesIgnoreCase = true;

// The debug channel's serial port, and the files it tries, in this order,
// when the configured file cannot be opened.
constexpr const char* ChannelSerialPort = "COM2:";
constexpr unsigned ChannelFallbackCount = 3;
inline const char* const* channelFallbackFiles() {
  static constexpr const char* Files[ChannelFallbackCount] = {"c:\\tmp\\kprintf.txt", "c:\\kprintf.txt", "kprintf.txt"};
  return Files;
}

#else

constexpr char PathSeparator = '/';

inline bool isPathSeparator(char c) { return c == '/'; }

// An absolute name replaces the directory.
inline bool nameReplacesDirectory(const char* name) { return name[0] == '/'; }

// Names are bytes: "LOG.txt" and "log.txt" are two files.
constexpr bool NamesIgnoreCase = false;

// The second serial port, as COM2 is on Windows, and the debug channel's
// fallback files with the same roles as there: a place of the user's, then
// the current directory. The first is ChannelFallbackName in the user's
// runtime folder when XDG_RUNTIME_DIR names one, else in /tmp; the
// emulation reads the environment at the first call.
constexpr const char* ChannelSerialPort = "/dev/ttyS1";
constexpr char ChannelFallbackName[] = "kprintf.txt";
constexpr unsigned ChannelFallbackCount = 2;
const char* const* channelFallbackFiles();

#endif

}  // namespace trovex
