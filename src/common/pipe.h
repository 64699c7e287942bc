// The named pipe that hosts' debug channels write to and trovex-view
// --listen serves, as the POSIX emulation carries it: the pipe
// "\\.\pipe\NAME" is the local stream socket NAME in the user's shared
// folder (sharedFolder). A place of the user's, so that a host and the
// listener of one session find each other; a folder only its owner can
// enter, so that no other user can listen in on a host's channel or put a
// socket of theirs in its way. The emulation's CreateFileA opens the client end; the
// listener serves the socket. The functions are the emulation's; on Windows
// the pipe is the system's and nothing here is used.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trovex::win32 {

// The first bytes a client sends on a new connection: this mark, its
// program's file name (at most PipeHelloMaxName bytes), the mark again. The
// server takes the name from there: by the time it looks at the process, a
// short-lived host may have ended and left nothing to look at. A client
// that does not introduce itself is looked at instead.
constexpr char PipeHelloMark = '\0';
constexpr size_t PipeHelloMaxName = 255;

// Writes the socket's path for a pipe name into path (size bytes). False
// (errno ENAMETOOLONG or EINVAL) for a name that is empty, holds a "/", or
// is too long for a socket's address.
bool pipeSocketPath(const char* name, char* path, size_t size);

// The folder the emulation shares between the user's processes, for its
// pipes, its debug output and its other named objects: $XDG_RUNTIME_DIR/trovex
// when XDG_RUNTIME_DIR names a folder (an absolute path), else
// /tmp/trovex-UID. Writes it into folder (size bytes). False (errno
// ENAMETOOLONG) when it does not fit there, or leaves no room in a socket's
// address (108 bytes with its end) for the debug-output socket in it.
bool sharedFolder(char* folder, size_t size);

// True when the user's shared folder exists as a folder of the user's own that
// no one else may enter; with create, a missing one is made first. Otherwise
// false, with errno set (EACCES for a folder of the wrong owner or mode).
bool securePipeFolder(bool create);

// The emulation's OutputDebugStringA: one datagram per call to the socket
// DebugOutputSocketName in the shared folder, which trovex-view --listen
// receives while it runs. A datagram holds the caller's process id in
// decimal, a zero byte, its program's file name (at most PipeHelloMaxName
// bytes), a zero byte, then the text: at most DebugOutputMaxText bytes, as
// the system's buffer on Windows holds beside the process id. It is sent
// without waiting; with no listener, or one that is behind, the text goes
// nowhere, as on Windows with no debugger and no monitor. No pipe takes the
// socket's name.
constexpr char DebugOutputSocketName[] = "debug-output";
constexpr size_t DebugOutputBufferSize = 4096;
constexpr size_t DebugOutputMaxText = DebugOutputBufferSize - sizeof(uint32_t) - 1;

// The debug-output socket's path into path (size bytes); false (errno
// ENAMETOOLONG) when it does not fit.
bool debugOutputSocketPath(char* path, size_t size);

}  // namespace trovex::win32
