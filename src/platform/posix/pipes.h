// Named pipes over local stream sockets (common/pipe.h): what the rest of
// the emulation needs besides the socket's place and the hello.
#pragma once

#include "common/pipe.h"

// The pipe's name after the prefix "\\.\pipe\" (compared without regard to
// case, as Windows does), or null when path names no pipe.
const char* pipeNameOf(const char* path);
