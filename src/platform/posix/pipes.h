// Named pipes over local stream sockets (common/pipe.h): what the rest of
// the emulation needs besides the socket's place and the hello.
#pragma once

#include "common/pipe.h"

namespace trovex::win32 {

// The pipe's name after the prefix "\\.\pipe\" (compared without regard to
// case, as Windows does), or null when path names no pipe.
const char* pipeNameOf(const char* path);

// True when `folder` is a folder (not a link) of the user's own that no one
// else may enter; else false, with errno set (EACCES for the wrong owner or
// mode). The pipe folder must be one.
bool isPrivateFolder(const char* folder);

// The path of the file `name` in the pipe folder, which is made when
// missing: the place of what the user's processes share besides pipes (the
// named mutexes). False, with errno set, when the folder is not private or
// the path does not fit.
bool sharedFilePath(const char* name, char* path, size_t size);

}  // namespace trovex::win32
