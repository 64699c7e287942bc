// Inside the file layer: the open-stream list, kept beside the streams in
// stream.cpp, since the flush before a console read walks it.
#pragma once

#include "fileio/fileio.h"

namespace trovex {

// Sets up and deletes the list's lock, at library load and unload.
void initStreamList();
void shutDownStreamList();

// Gives a line-buffered stream its use lock and links it in at the front of
// the list; other streams are left out. Every other field of the stream is
// set before.
void linkStream(Stream* stream);

// Flushes the stream and takes it out of the list, if in; 0, or -1 if the flush
// failed. On return no other thread works on the stream any more (a flush
// that took it before it left the list has ended) and its use lock is
// deleted, so the caller may free it.
int unlinkStream(Stream* stream);

}  // namespace trovex
