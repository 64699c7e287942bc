// Opening and closing streams: mode strings, the stream record and its
// buffer, and linking into the open-stream list.
#include <cstring>

#include "fileio/slots.h"
#include "fileio/stream.h"

namespace trovex {

namespace {

// What a mode string asks of CreateFileA and of the open.
struct OpenMode {
  SlotOpen slot;
  bool append;          // move to the end of the file after opening
  bool keepAttributes;  // pass the file's current attributes
};

// Parses "r", "w" or "a", then optionally "b", "s" and "+" in that order and
// nothing else. Returns false for any other string.
bool parseMode(const char* text, OpenMode* mode) {
  *mode = OpenMode{};
  switch (*text++) {
    case 'r':
      mode->slot = SlotOpen{GENERIC_READ, 0, OPEN_EXISTING, 0};
      mode->keepAttributes = true;
      break;
    case 'w':
      mode->slot = SlotOpen{GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL};
      break;
    case 'a':
      mode->slot = SlotOpen{GENERIC_WRITE, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL};
      mode->append = true;
      break;
    default:
      return false;
  }
  if (*text == 'b') ++text;  // there is no text mode to tell it from
  // Others may read the file while it is open, and write it only with "s".
  mode->slot.shareMode = FILE_SHARE_READ;
  if (*text == 's') mode->slot.shareMode |= FILE_SHARE_WRITE, ++text;
  if (*text == '+') mode->slot.access = GENERIC_READ | GENERIC_WRITE, ++text;
  return *text == '\0';
}

// A rejected mode or a missing argument fails the open before any file is
// touched, and says so in the error state.
void recordInvalidArgument() {
  systemError = ERROR_INVALID_PARAMETER;
  errorNumber = ErrorInvalidArgument;
}

// Makes a record a fresh, unopened stream over its buffer: every other
// field zero, as a record new from the heap, whatever a previous file left
// in it (position, error bits, buffered bytes, links).
void resetRecord(Stream* stream) {
  uint8_t* const buffer = stream->buffer;
  std::memset(stream, 0, sizeof *stream);
  stream->buffer = buffer;
  stream->bufferSize = StreamBufferSize;
  stream->flags = OwnsBuffer;
}

// A new record with its buffer, or null with the error state set.
Stream* newRecord() {
  HANDLE heap = GetProcessHeap();
  Stream* stream = static_cast<Stream*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(Stream)));
  if (!stream) {
    errorNumber = ErrorNoMemory;
    return nullptr;
  }
  stream->buffer = static_cast<uint8_t*>(HeapAlloc(heap, 0, StreamBufferSize));
  if (!stream->buffer) {
    errorNumber = ErrorNoMemory;
    HeapFree(heap, 0, stream);
    return nullptr;
  }
  resetRecord(stream);
  return stream;
}

// Opens a stream on the file `name`, or with a null name on the standard
// slot `standardSlot`, in `record` (a closed record, reset here) or, with a
// null record, in a new one. mode may be null for a standard slot only. On
// failure a given record stays closed and the caller's; a new one is freed.
Stream* openOn(Stream* record, const char* name, int standardSlot, const char* modeText) {
  Stream* stream = record ? record : newRecord();
  if (!stream) return nullptr;
  if (record) resetRecord(record);

  OpenMode mode{};
  bool opened = modeText ? parseMode(modeText, &mode) : !name;
  if (!opened) recordInvalidArgument();
  int slot = standardSlot;
  if (opened && name) {
    if (mode.keepAttributes) {
      const DWORD attributes = GetFileAttributesA(name);
      mode.slot.attributes = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
    }
    slot = openSlot(name, mode.slot);
    opened = slot >= 0;
  }
  if (opened && mode.append) {
    // Taken as signed: a file of 2 GiB or more cannot be appended to.
    const DWORD position = SetFilePointer(slotHandle(slot), 0, nullptr, FILE_END);
    if (position == INVALID_SET_FILE_POINTER) recordLastError();
    if (static_cast<int32_t>(position) < 0) {
      if (name) releaseSlot(slot);
      opened = false;
    }
  }
  if (!opened) {
    if (!record) freeStreamRecord(stream);
    return nullptr;
  }

  HANDLE handle = slotHandle(slot);
  if (handle && GetFileType(handle) == FILE_TYPE_CHAR) stream->flags |= LineBuffered;
  stream->slot = static_cast<int16_t>(slot);
  linkStream(stream);
  return stream;
}

}  // namespace

bool streamModeAccepted(const char* mode) {
  OpenMode parsed;
  return mode && parseMode(mode, &parsed);
}

Stream* openStream(const char* name, const char* mode) { return reopenStream(nullptr, name, mode); }

Stream* reopenStream(Stream* record, const char* name, const char* mode) {
  if (!name || !mode) {
    recordInvalidArgument();
    return nullptr;
  }
  return openOn(record, name, -1, mode);
}

Stream* openStandardStream(int slot, const char* mode) {
  if (slot < 0 || slot >= StandardSlots) return nullptr;
  return openOn(nullptr, nullptr, slot, mode);
}

int closeStreamFile(Stream* stream) {
  // Out of the list first, so that no other thread's flush of line-buffered
  // streams meets it half released.
  const int flushed = unlinkStream(stream);
  releaseSlot(stream->slot);
  return flushed == 0 ? 0 : -1;
}

void freeStreamRecord(Stream* record) {
  HANDLE heap = GetProcessHeap();
  if (record->flags & OwnsBuffer) HeapFree(heap, 0, record->buffer);
  HeapFree(heap, 0, record);
}

int closeStream(Stream* stream) {
  const int flushed = closeStreamFile(stream);
  freeStreamRecord(stream);
  return flushed;
}

}  // namespace trovex
