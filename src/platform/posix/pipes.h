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

}  // namespace trovex::win32
