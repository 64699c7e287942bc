// The lazy open of the protocol file: where a newly named file goes, the
// reopen for appending, and the close after a message.
#include <cstring>

#include "fileio/fileio.h"
#include "protocol/protocol.h"

namespace trovex {

namespace {

const char AppendMode[] = "a";

// A mode that appends asks to keep the file; a mode the stream layer refuses
// opens nothing, so nothing would explain the loss of the file.
bool mayDeleteFor(const char* mode) { return mode[0] != 'a' && streamModeAccepted(mode); }

// The name in the temporary directory, in resolvedPath; false without one.
bool tempCandidate(ProtocolFile* file) {
  if (!tempDirectory(file->resolvedPath, FileNameSize)) return false;
  joinPath(file->resolvedPath, file->fileName, FileNameSize);  // a name too long leaves the bare directory
  return true;
}

// The first candidate in resolvedPath: the current directory when it is
// writable, else the temporary directory, where an older file of the name is
// deleted first (when allowed). False when neither can be read.
bool firstCandidate(ProtocolFile* file, bool mayDelete) {
  if (currentDirectory(file->resolvedPath, FileNameSize)) {
    const int32_t attributes = fileAttributes(file->resolvedPath);
    if (attributes != -1 && (attributes & AttrWritable)) {
      joinPath(file->resolvedPath, file->fileName, FileNameSize);
      return true;
    }
  }
  if (!tempCandidate(file)) return false;
  if (mayDelete) deleteFile(file->resolvedPath);
  return true;
}

// Opens a newly named file with the host's mode: two attempts at the
// candidates, then the name exactly as given. After a candidate opens,
// fileName holds its full path.
Stream* openNewName(ProtocolFile* file) {
  const bool mayDelete = mayDeleteFor(file->openMode);
  Stream* stream = nullptr;
  if (firstCandidate(file, mayDelete)) {
    stream = openStream(file->resolvedPath, file->openMode);
    if (!stream) {
      if (tempCandidate(file) && mayDelete) deleteFile(file->resolvedPath);
      stream = openStream(file->resolvedPath, file->openMode);
    }
    if (stream) std::memcpy(file->fileName, file->resolvedPath, std::strlen(file->resolvedPath) + 1);
  }
  if (!stream) stream = openStream(file->fileName, file->openMode);
  return stream;
}

}  // namespace

Stream* openProtocolStream(ProtocolFile* file) {
  if (file->stream) {
    // A held stream whose write failed takes no more text until it is
    // closed: it is replaced, so that one failed write does not silence the
    // file for every later message. Not under a message of this thread that
    // is still writing it (its callback calls in).
    if (!(file->stream->flags & Failed) || !streamMayClose(file)) return file->stream;
    closeProtocolStream(file);
  }
  if (!file->fileName[0]) return nullptr;
  if (file->opened) {
    if (file->truncatePending) {
      truncateProtocolFile(file, file->fileName);
      file->truncatePending = 0;
    }
    file->stream = reopenStream(file->spareRecord, file->fileName, AppendMode);
    if (file->stream) file->spareRecord = nullptr;
  } else {
    file->stream = openNewName(file);
  }
  if (file->stream) file->opened = 1;
  return file->stream;
}

void closeProtocolStream(ProtocolFile* file) {
  if (file->stream) {
    closeStream(file->stream);
    file->stream = nullptr;
  }
  if (file->spareRecord) {
    freeStreamRecord(file->spareRecord);
    file->spareRecord = nullptr;
  }
}

void closeProtocolFile(ProtocolFile* file) {
  closeProtocolStream(file);
  if (file->lostMessages > 0) {
    if (Stream* error = standardStream(2)) {
      printStream(error, LostProtocolMessagesNotice, file->lostMessages);
      flushStream(error);
    }
    file->lostMessages = 0;
  }
  closeFileTurn(&file->writeTurn);
}

void putProtocolStreamAside(ProtocolFile* file) {
  if (!file->stream) return;
  closeStreamFile(file->stream);
  if (file->spareRecord) freeStreamRecord(file->spareRecord);
  file->spareRecord = file->stream;
  file->stream = nullptr;
}

void settleProtocolFile(ProtocolFile* file) {
  // A callback calling in while its message writes the held stream must not
  // have that stream closed under the message.
  if (file->opened || (file->stream && !streamMayClose(file))) return;
  // A setter cleared `opened`, so a stream still held belongs to the name
  // before it; the new name is settled only once that stream is closed.
  closeProtocolStream(file);
  if (openProtocolStream(file)) closeProtocolStream(file);
}

}  // namespace trovex
