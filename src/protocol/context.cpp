// The protocol file's record, its setters, and the read-back and copy of its
// name and content.
#include <cstring>

#include "common/hold.h"
#include "common/settings.h"
#include "fileio/fileio.h"
#include "protocol/protocol.h"

namespace trovex {

ProtocolFile protocolFile;

namespace {
const char DefaultOpenMode[] = "w";
constexpr uint32_t DefaultSizeLimit = 5000000;

// A setter's change: the next message (or read-back, or copy) takes it over.
void storeRequest(ProtocolFile* file, char* field, const char* text, unsigned size) {
  SectionHold hold(settingsLock());
  copyCut(field, text, size);
  file->requestVersion.fetch_add(1, std::memory_order_release);
}
}  // namespace

void initProtocolFile(ProtocolFile* file) {
  file->fileName[0] = '\0';
  copyCut(file->openMode, DefaultOpenMode, OpenModeSize);
  file->sizeLimit = DefaultSizeLimit;
  file->keepSize = DefaultKeepSize;
  file->stream = nullptr;
  file->spareRecord = nullptr;
  file->opened = 0;
  file->truncatePending = 1;
  file->streamWriters = 0;
  file->lostMessages = 0;
  file->writeTurn = FileTurn{nullptr, 0, 0};
  file->requestedName[0] = '\0';
  copyCut(file->requestedMode, DefaultOpenMode, OpenModeSize);
  file->adoptedVersion = file->requestVersion.load(std::memory_order_relaxed);
}

void setFileName(ProtocolFile* file, const char* name) { storeRequest(file, file->requestedName, name, FileNameSize); }

void setOpenMode(ProtocolFile* file, const char* mode) {
  storeRequest(file, file->requestedMode, (mode && *mode) ? mode : DefaultOpenMode, OpenModeSize);
}

void adoptProtocolRequest(ProtocolFile* file) {
  if (file->requestVersion.load(std::memory_order_acquire) == file->adoptedVersion) return;
  SectionHold hold(settingsLock());
  std::memcpy(file->fileName, file->requestedName, std::strlen(file->requestedName) + 1);
  std::memcpy(file->openMode, file->requestedMode, std::strlen(file->requestedMode) + 1);
  file->opened = 0;
  file->adoptedVersion = file->requestVersion.load(std::memory_order_relaxed);
}

int readFileName(ProtocolFile* file, char* buffer, int length, int force) {
  adoptProtocolRequest(file);
  if (force) settleProtocolFile(file);
  if (!buffer || length <= 0) return 0;
  const size_t nameLength = std::strlen(file->fileName);
  if (nameLength >= static_cast<size_t>(length)) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, file->fileName, nameLength + 1);
  return 1;
}

int copyProtocolFile(ProtocolFile* file, const char* destination, int append) {
  adoptProtocolRequest(file);
  if (!file->fileName[0] || !destination) return 0;
  // A stream held open shares reading only and holds unwritten text: it is
  // closed first, so the copy can open the file and holds every message.
  // (Not while a message of this thread, whose callback calls in, writes it.)
  if (streamMayClose(file)) closeProtocolStream(file);
  settleProtocolFile(file);
  if (!currentDirectory(file->resolvedPath, FileNameSize)) return 0;
  if (compareNames(file->fileName, destination) == 0) return 1;
  const uint32_t options = append ? (CopyForceWritable | CopyAppend) : 0;
  return copyFile(file->fileName, destination, options) != -1 ? 1 : 0;
}

}  // namespace trovex
