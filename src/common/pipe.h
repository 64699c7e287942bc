// The named pipe that hosts' debug channels write to and trovex-view
// --listen serves, as the POSIX emulation carries it: the pipe
// "\\.\pipe\NAME" is the local stream socket NAME in the user's pipe folder,
// /tmp/trovex-UID. A fixed place, so that a host and the listener find each
// other whatever their environments; a folder only its owner can enter, so
// that no other user can listen in on a host's channel or put a socket of
// theirs in its way. The emulation's CreateFileA opens the client end; the
// listener serves the socket. The functions are the emulation's; on Windows
// the pipe is the system's and nothing here is used.
#pragma once

#include <cstddef>

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

// True when the user's pipe folder exists as a folder of the user's own that
// no one else may enter; with create, a missing one is made first. Otherwise
// false, with errno set (EACCES for a folder of the wrong owner or mode).
bool securePipeFolder(bool create);
