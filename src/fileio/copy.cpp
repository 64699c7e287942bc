// Copying a stream into another, and a file into another by name.
#include "fileio/fileio.h"
#include "platform/win32.h"

namespace trovex {

namespace {
// Bytes per read and write of a copy. Fixed, not tunable: it is larger than
// a stream buffer, so each step is one direct ReadFile and one WriteFile.
constexpr uint32_t CopyChunk = 32000;
static_assert(CopyChunk >= StreamBufferSize, "copy steps must bypass the stream buffer");
}  // namespace

int32_t copyStream(Stream* source, Stream* destination) {
  HANDLE heap = GetProcessHeap();
  void* area = HeapAlloc(heap, 0, CopyChunk);
  if (!area) return -1;
  uint32_t total = 0;
  bool failed = false;
  for (;;) {
    const uint32_t count = readStream(area, 1, CopyChunk, source);
    if (source->flags & ReadFailed) {
      failed = true;
      break;
    }
    if (count == 0) break;
    if (writeStream(area, 1, count, destination) < count) {
      failed = true;
      break;
    }
    total += count;
    if (count < CopyChunk) break;
  }
  HeapFree(heap, 0, area);
  return failed ? -1 : static_cast<int32_t>(total);
}

int32_t copyFile(const char* source, const char* destination, uint32_t options) {
  int32_t result = -1;
  uint32_t saved = 0;
  Stream* from = openStream(source, "rb");
  if (!from) return -1;
  const char* mode = (options & CopyAppend) ? "a" : "wb";
  Stream* to = openStream(destination, mode);
  if (!to && (options & CopyForceWritable)) {
    if (fileAttributes(destination) != -1) setFileAttributes(destination, AttrWritable, AttrWritable);
    to = openStream(destination, mode);
  }
  if (!to) {
    saved = systemError;
    closeStream(from);
  } else {
    result = copyStream(from, to);
    if (result == -1) saved = systemError;
    // The last bytes reach the file only at the close: a copy whose end is
    // lost is no copy.
    if (closeStream(to) != 0 && result != -1) {
      result = -1;
      saved = systemError;
    }
    if (result != -1 && !(options & CopyNoTime)) {
      // After the close, so that the final write does not change the time again.
      uint64_t time;
      if (lastWriteTime(source, &time)) setLastWriteTime(destination, time);
    }
    closeStream(from);
  }
  if (saved != 0) recordSystemError(saved);
  return result;
}

}  // namespace trovex
