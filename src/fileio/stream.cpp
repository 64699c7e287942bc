// Buffered writing and reading: the put rule, flushing, filling the buffer,
// the block transfers that bypass the buffer, and the open-stream list that
// the flush before a console read walks.
//
// The put rule keeps the common case to one decrement, one compare and one
// store. writeAvail counts the bytes that may still be stored without a look
// at the byte; when it runs below zero, a line-buffered stream (lineLimit
// -bufferSize) may go on storing down to lineLimit as long as the byte is no
// newline. Everything else goes to putOverflow, which writes the buffer out:
// a fully buffered stream exactly when a byte fills its last position, a
// line-buffered one when a newline is stored or the buffer is full.
#include <cstring>

#include "common/contract.h"
#include "common/hold.h"
#include "fileio/slots.h"
#include "fileio/stream.h"

namespace trovex {

namespace {

constexpr uint8_t Newline = 10;

Stream listHead;  // fixed head entry of the open-stream list; only `next` is used

// The lock over the list's links, set up at library load and deleted at
// unload. It is held only to link, unlink or pick streams, never while a
// stream is written.
CRITICAL_SECTION listLock;

// The contract of every buffer access: `count` bytes from cur lie inside
// the buffer (with count 0: cur is inside or at its end).
inline bool fitsAtCur(const Stream* stream, uint32_t count) {
  return stream->cur >= stream->buffer && stream->cur <= stream->buffer + stream->bufferSize &&
         count <= static_cast<size_t>(stream->buffer + stream->bufferSize - stream->cur);
}

// Drops input read ahead: the next read goes to the file. The file position
// is not moved back over it.
inline void dropReadAhead(Stream* stream) {
  stream->readAvail = 0;
  stream->flags &= ~Reading;
}

// One WriteFile of a whole block; the bytes it wrote, 0 if it failed.
DWORD writeBlock(Stream* stream, const uint8_t* data, uint32_t size) {
  DWORD written = 0;
  if (!WriteFile(slotHandle(stream->slot), data, size, &written, nullptr)) {
    recordLastError();
    written = 0;
  }
  return written;
}

// Writes the buffered output (the caller holds the stream's use lock, if it
// has one); 0, or -1 with the stream Failed for good.
int flushBuffer(Stream* stream) {
  if (stream->flags & Failed) {
    errorNumber = ErrorStreamState;
    return -1;
  }
  if (!(stream->flags & Writing)) return 0;
  TROVEX_ASSERT(fitsAtCur(stream, 0));
  const uint8_t* next = stream->buffer;
  uint32_t left = static_cast<uint32_t>(stream->cur - stream->buffer);
  while (left > 0) {
    const DWORD written = writeBlock(stream, next, left);
    if (written == 0) {
      // The bytes stay in the buffer. No room is left, so every later put
      // reaches putOverflow and fails there instead of being stored unseen.
      stream->flags |= Failed;
      stream->writeAvail = 0;
      stream->lineLimit = 0;
      return -1;
    }
    next += written;
    left -= written;
  }
  stream->flags &= ~Writing;
  stream->writeAvail = 0;
  stream->lineLimit = 0;
  return 0;
}

// Puts byte c when the buffer has no plain room: starts writing, drops any
// read-ahead, and writes the buffer out when it is full or, line-buffered,
// at a newline. Returns c, or -1 when the stream is Failed or the write fails.
int putOverflow(Stream* stream, uint8_t c) {
  if (stream->flags & Failed) {
    stream->writeAvail = 0;
    errorNumber = ErrorStreamState;
    return -1;
  }
  if (stream->flags & Reading) dropReadAhead(stream);
  const int32_t size = static_cast<int32_t>(stream->bufferSize);
  const int32_t limit = (stream->flags & LineBuffered) ? -size : 0;
  int32_t avail = limit + size - 1;
  if (!(stream->flags & Writing)) {
    stream->cur = stream->buffer;
    --avail;  // this byte takes the first position
    stream->writeAvail = avail;
    stream->flags |= Writing;
  }
  TROVEX_ASSERT(fitsAtCur(stream, 1));
  *stream->cur++ = c;
  if (stream->writeAvail < 0 && (stream->writeAvail < limit || c == Newline)) {
    if (flushBuffer(stream) != 0) return -1;
    stream->cur = stream->buffer;
  }
  stream->lineLimit = limit;
  stream->writeAvail = avail;
  stream->flags |= Writing;
  return c;
}

inline int putByte(Stream* stream, uint8_t c) {
  if (--stream->writeAvail >= 0 || (stream->writeAvail >= stream->lineLimit && c != Newline)) {
    *stream->cur++ = c;
    return c;
  }
  return putOverflow(stream, c);
}

// One ReadFile into data; the bytes read. A failure other than the end of a
// pipe is recorded and marks the stream ReadFailed.
DWORD readBlock(Stream* stream, void* data, uint32_t size) {
  DWORD count = 0;
  if (ReadFile(slotHandle(stream->slot), data, size, &count, nullptr)) return count;
  const DWORD error = GetLastError();
  if (error != ERROR_BROKEN_PIPE && error != ERROR_HANDLE_EOF) {
    recordSystemError(error);
    stream->flags |= ReadFailed;
  }
  return 0;
}

// Writes the pending output of every line-buffered stream, so that console
// output is out before console input is read. The list's lock is held only
// to pick the streams, each with its use lock taken; the writes come after,
// under the use locks alone, which also keep a closing thread from freeing a
// stream meanwhile. A stream whose use lock is held elsewhere is left to
// that thread: its owner is in the middle of an operation (its output is not
// complete yet, or it waits for a console read of its own), or another
// thread's flush of this kind has it.
void flushLineBufferedStreams() {
  Stream* taken = nullptr;
  {
    SectionHold hold(&listLock);
    for (Stream* stream = listHead.next; stream; stream = stream->next)
      if (stream->useLock && TryEnterCriticalSection(stream->useLock)) {
        stream->flushNext = taken;
        taken = stream;
      }
  }
  while (taken) {
    Stream* stream = taken;
    taken = stream->flushNext;
    if (stream->flags & Writing) flushBuffer(stream);
    LeaveCriticalSection(stream->useLock);
  }
}

// Takes the first byte of a buffer refilled from the file, or -1 at the end
// of the file, after a read failure, or when the stream is AtEnd, Failed or
// ReadFailed.
int fillBuffer(Stream* stream) {
  if (stream->flags & (AtEnd | Failed | ReadFailed)) {
    stream->readAvail = 0;
    errorNumber = ErrorStreamState;
    return -1;
  }
  if ((stream->flags & Writing) && flushBuffer(stream) != 0) return -1;
  if (stream->flags & LineBuffered) flushLineBufferedStreams();
  stream->flags |= Reading;
  const DWORD count = readBlock(stream, stream->buffer, stream->bufferSize);
  stream->readAvail = 0;
  if (count == 0) {
    if (!(stream->flags & ReadFailed)) stream->flags |= AtEnd;
    return -1;
  }
  stream->readAvail = static_cast<int32_t>(count) - 1;
  stream->cur = stream->buffer + 1;
  return stream->buffer[0];
}

// Bytes as whole elements of `size`; formatted output always writes bytes,
// and a division costs more than the rest of a short write.
inline uint32_t wholeElements(uint32_t bytes, uint32_t size) { return size == 1 ? bytes : bytes / size; }

}  // namespace

int flushStream(Stream* stream) {
  SectionHold use(stream->useLock);
  return flushBuffer(stream);
}

uint32_t writeStream(const void* data, uint32_t size, uint32_t count, Stream* stream) {
  const uint32_t total = size * count;
  if (total == 0) return 0;
  SectionHold use(stream->useLock);
  const uint8_t* next = static_cast<const uint8_t*>(data);
  uint32_t remaining = total;
  while (remaining > 0) {
    if (stream->bufferSize < remaining) {
      // More than a buffer: after what is buffered, in one call of its own.
      if (flushBuffer(stream) != 0) break;
      // Input read ahead lies before what this writes: none of it may be
      // read after the write.
      if (stream->flags & Reading) dropReadAhead(stream);
      stream->cur = stream->buffer;
      remaining -= writeBlock(stream, next, remaining);
      break;
    }
    if (stream->writeAvail > 0) {
      const uint32_t room = static_cast<uint32_t>(stream->writeAvail);
      const uint32_t n = remaining < room ? remaining : room;
      TROVEX_ASSERT(fitsAtCur(stream, n));
      std::memcpy(stream->cur, next, n);
      stream->cur += n;
      stream->writeAvail -= static_cast<int32_t>(n);
      next += n;
      remaining -= n;
    } else {
      if (putByte(stream, *next) < 0) break;
      ++next;
      --remaining;
    }
  }
  return wholeElements(total - remaining, size);
}

uint32_t readStream(void* data, uint32_t size, uint32_t count, Stream* stream) {
  const uint32_t total = size * count;
  if (total == 0) return 0;
  SectionHold use(stream->useLock);
  uint8_t* next = static_cast<uint8_t*>(data);
  uint32_t remaining = total;
  while (remaining > 0) {
    if (stream->readAvail > 0) {
      const uint32_t held = static_cast<uint32_t>(stream->readAvail);
      const uint32_t n = remaining < held ? remaining : held;
      TROVEX_ASSERT(fitsAtCur(stream, n));
      std::memcpy(next, stream->cur, n);
      stream->cur += n;
      stream->readAvail -= static_cast<int32_t>(n);
      next += n;
      remaining -= n;
    } else if (stream->bufferSize > remaining) {
      const int c = fillBuffer(stream);
      if (c < 0) break;
      *next++ = static_cast<uint8_t>(c);
      --remaining;
    } else {
      // At least a buffer: straight into the caller's memory, after any
      // pending output, so that output is not written behind the input read.
      if ((stream->flags & Writing) && flushBuffer(stream) != 0) break;
      if (stream->flags & (Failed | ReadFailed)) {
        errorNumber = ErrorStreamState;
        break;
      }
      remaining -= readBlock(stream, next, remaining);
      break;
    }
  }
  return wholeElements(total - remaining, size);
}

void initStreamList() { InitializeCriticalSection(&listLock); }
void shutDownStreamList() { DeleteCriticalSection(&listLock); }

void linkStream(Stream* stream) {
  // Only the flush before a console read walks the list, and it takes only
  // line-buffered streams: others stay out of it, and open and close
  // without its lock.
  if (!(stream->flags & LineBuffered)) return;
  InitializeCriticalSection(&stream->useLockStorage);
  stream->useLock = &stream->useLockStorage;
  SectionHold hold(&listLock);
  stream->prev = &listHead;
  stream->next = listHead.next;
  if (listHead.next) listHead.next->prev = stream;
  listHead.next = stream;
}

int unlinkStream(Stream* stream) {
  const int flushed = flushStream(stream);
  // Never linked: no use lock. Not prev, which other threads' links write.
  if (!stream->useLock) return flushed;
  {
    SectionHold hold(&listLock);
    stream->prev->next = stream->next;
    if (stream->next) stream->next->prev = stream->prev;
    stream->next = stream->prev = nullptr;
  }
  // Out of the list, the stream can be taken by no further flush; one that
  // took it before holds its use lock until it is done with it.
  EnterCriticalSection(stream->useLock);
  LeaveCriticalSection(stream->useLock);
  DeleteCriticalSection(stream->useLock);
  stream->useLock = nullptr;
  return flushed;
}

}  // namespace trovex
