// The output context, its setters, and the read-back and copy of the
// protocol file's name and content.
#include "protocol/protocol.h"

#include <cstring>

#include "fileio/fileio.h"

OutputContext outputContext;

namespace {
const char DefaultOpenMode[] = "w";
constexpr uint32_t DefaultSizeLimit = 5000000;
constexpr uint32_t DefaultKeepSize = 1000000;

// Copies text into a field of `size` bytes, cut to size - 1 characters.
void copyCut(char* field, const char* text, unsigned size) {
  unsigned n = 0;
  if (text)
    while (n + 1 < size && text[n] != '\0') field[n] = text[n], ++n;
  field[n] = '\0';
}
}  // namespace

void initOutputContext(OutputContext* context) {
  context->fileName[0] = '\0';
  copyCut(context->openMode, DefaultOpenMode, OpenModeSize);
  context->sizeLimit = DefaultSizeLimit;
  context->keepSize = DefaultKeepSize;
  context->stream = nullptr;
  context->callback = nullptr;
  context->opened = 0;
  context->continuation = 0;
  context->atLineStart = 0;
  context->channelEnabled = 1;
  context->protocolEnabled = 1;
  context->callbackEnabled = 1;
  context->truncatePending = 1;
  context->emitDepth = 0;
  context->mutex = CreateMutexA(nullptr, FALSE, nullptr);
}

void destroyOutputContext(OutputContext* context) {
  // Text of keep-open messages still buffered reaches the file.
  closeProtocolStream(context);
  if (context->mutex) {
    CloseHandle(context->mutex);
    context->mutex = nullptr;
  }
}

void lockContext(OutputContext* context) {
  if (context->mutex) WaitForSingleObject(context->mutex, INFINITE);
}

int unlockContext(OutputContext* context) {
  if (!context->mutex) return 0;
  return ReleaseMutex(context->mutex) ? 1 : 0;
}

void setFileName(OutputContext* context, const char* name) {
  ContextLock hold(context);
  copyCut(context->fileName, name, FileNameSize);
  context->opened = 0;
}

void setOpenMode(OutputContext* context, const char* mode) {
  ContextLock hold(context);
  copyCut(context->openMode, (mode && *mode) ? mode : DefaultOpenMode, OpenModeSize);
  context->opened = 0;
}

void setCallback(OutputContext* context, MessageCallback callback) {
  ContextLock hold(context);
  context->callback = callback;
}

void setChannelEnabled(OutputContext* context, bool on) {
  ContextLock hold(context);
  context->channelEnabled = on;
}

void setProtocolEnabled(OutputContext* context, bool on) {
  ContextLock hold(context);
  context->protocolEnabled = on;
}

int readFileName(OutputContext* context, char* buffer, int length, int force) {
  ContextLock hold(context);
  if (force) settleProtocolFile(context);
  if (!buffer || length <= 0) return 0;
  const size_t nameLength = std::strlen(context->fileName);
  if (nameLength >= static_cast<size_t>(length)) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, context->fileName, nameLength + 1);
  return 1;
}

int copyProtocolFile(OutputContext* context, const char* destination, int append) {
  ContextLock hold(context);
  if (!context->fileName[0] || !destination) return 0;
  // A stream held open shares reading only and holds unwritten text: it is
  // closed first, so the copy can open the file and holds every message.
  // (Not while a message of this thread, whose callback calls in, writes it.)
  if (context->emitDepth == 0) closeProtocolStream(context);
  settleProtocolFile(context);
  if (!currentDirectory(context->resolvedPath, FileNameSize)) return 0;
  if (compareNames(context->fileName, destination) == 0) return 1;
  const uint32_t options = append ? (CopyForceWritable | CopyAppend) : 0;
  return copyFile(context->fileName, destination, options) != -1 ? 1 : 0;
}
