// The file layer: buffered streams over Win32 file handles, and path and file
// utilities by name.
#pragma once

#include <cstdarg>
#include <cstdint>

struct Stream;

// The three standard streams over the process's standard handles, opened at
// load and closed at unload. openStandardStreams returns 1, or 0 on failure.
int openStandardStreams();
void closeStandardStreams();

// Formatted printing into a stream; returns the characters produced modulo
// 65536. With a null args the format is written as plain text.
uint16_t vprintStream(Stream* stream, const char* format, va_list* args);
uint16_t printStream(Stream* stream, const char* format, ...);

// Flushes and closes a stream and frees it; 0, or -1 if the final flush failed.
int closeStream(Stream* stream);
