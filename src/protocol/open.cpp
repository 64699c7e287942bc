// The lazy open of the protocol file: where a newly named file goes, the
// reopen for appending, and the close after a message.
#include <cstring>

#include "fileio/fileio.h"
#include "protocol/protocol.h"

namespace {

const char AppendMode[] = "a";

// A mode that appends asks to keep the file; a mode the stream layer refuses
// opens nothing, so nothing would explain the loss of the file.
bool mayDeleteFor(const char* mode) { return mode[0] != 'a' && streamModeAccepted(mode); }

// The name in the temporary directory, in resolvedPath; false without one.
bool tempCandidate(OutputContext* context) {
  if (!tempDirectory(context->resolvedPath, FileNameSize)) return false;
  joinPath(context->resolvedPath, context->fileName, FileNameSize);  // a name too long leaves the bare directory
  return true;
}

// The first candidate in resolvedPath: the current directory when it is
// writable, else the temporary directory, where an older file of the name is
// deleted first (when allowed). False when neither can be read.
bool firstCandidate(OutputContext* context, bool mayDelete) {
  if (currentDirectory(context->resolvedPath, FileNameSize)) {
    const int32_t attributes = fileAttributes(context->resolvedPath);
    if (attributes != -1 && (attributes & AttrWritable)) {
      joinPath(context->resolvedPath, context->fileName, FileNameSize);
      return true;
    }
  }
  if (!tempCandidate(context)) return false;
  if (mayDelete) deleteFile(context->resolvedPath);
  return true;
}

// Opens a newly named file with the host's mode: two attempts at the
// candidates, then the name exactly as given. After a candidate opens,
// fileName holds its full path.
Stream* openNewName(OutputContext* context) {
  const bool mayDelete = mayDeleteFor(context->openMode);
  Stream* stream = nullptr;
  if (firstCandidate(context, mayDelete)) {
    stream = openStream(context->resolvedPath, context->openMode);
    if (!stream) {
      if (tempCandidate(context) && mayDelete) deleteFile(context->resolvedPath);
      stream = openStream(context->resolvedPath, context->openMode);
    }
    if (stream) std::memcpy(context->fileName, context->resolvedPath, std::strlen(context->resolvedPath) + 1);
  }
  if (!stream) stream = openStream(context->fileName, context->openMode);
  return stream;
}

}  // namespace

Stream* openProtocolStream(OutputContext* context) {
  if (context->stream) {
    // A held stream whose write failed takes no more text until it is
    // closed: it is replaced, so that one failed write does not silence the
    // file for every later message. Not under a message of this thread that
    // is still writing it (its callback calls in).
    if (!(context->stream->flags & Failed) || context->emitDepth > 1) return context->stream;
    closeProtocolStream(context);
  }
  if (!context->fileName[0]) return nullptr;
  if (context->opened) {
    if (context->truncatePending) {
      truncateProtocolFile(context, context->fileName);
      context->truncatePending = 0;
    }
    context->stream = openStream(context->fileName, AppendMode);
  } else {
    context->stream = openNewName(context);
  }
  if (context->stream) context->opened = 1;
  return context->stream;
}

void closeProtocolStream(OutputContext* context) {
  if (context->stream) {
    closeStream(context->stream);
    context->stream = nullptr;
  }
}

void settleProtocolFile(OutputContext* context) {
  // A callback calling in while its message writes the held stream must not
  // have that stream closed under the message.
  if (context->opened || (context->stream && context->emitDepth > 0)) return;
  // A setter cleared `opened`, so a stream still held belongs to the name
  // before it; the new name is settled only once that stream is closed.
  closeProtocolStream(context);
  if (openProtocolStream(context)) closeProtocolStream(context);
}
