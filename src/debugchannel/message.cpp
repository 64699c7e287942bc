// The frame of a message on the channel and the prints and writes inside it:
// the lock held and the device open from the message's start to its end,
// produced characters through the escape filter to the device (or the
// debugger) and unfiltered to standard error.
#include <cstring>

#include "debugchannel/device.h"
#include "format/format.h"

namespace trovex {

namespace {

constexpr char EscapeChar = 27;
constexpr char EscapeEnd = 'm';

// One print's characters are collected and written with one call per target
// and piece: each target still gets every byte, in order, and a print of up
// to StagingSize characters costs one write per target instead of one per
// character. Not a behavioural size: any size keeps the output the same.
constexpr uint16_t StagingSize = 1024;

// Filtered text for the device: written to a port, file or pipe, or held for
// the debugger until the message ends or a piece is full.
void keepForDevice(DebugChannel* channel, const char* bytes, unsigned count) {
  if (channel->toDebugger) channel->debugger.add(bytes, count);
  else if (channel->deviceHandle) writeMessageBytes(channel, bytes, count);
}

void putPiece(void* channel, const char* text, unsigned count) {
  channelPutRun(static_cast<DebugChannel*>(channel), text, count);
}

}  // namespace

void initDebugChannel(DebugChannel* channel, const ChannelDevices* devices) {
  std::memset(channel, 0, sizeof *channel);
  channel->channelType = StderrDevice;
  channel->devices = devices;
  InitializeCriticalSection(&channel->channelLock);
  channel->channelLockReady = true;
}

void closeDebugChannel(DebugChannel* channel) {
  if (!channel->channelLockReady) return;
  EnterCriticalSection(&channel->channelLock);
  if (channel->deviceHandle) closeDevice(channel);
  closeFileTurn(&channel->fileTurn);
  LeaveCriticalSection(&channel->channelLock);
  DeleteCriticalSection(&channel->channelLock);
  channel->channelLockReady = false;
}

void channelPutRun(DebugChannel* channel, const char* text, unsigned count) {
  TROVEX_ASSERT(channel->messageDepth > 0);
  TROVEX_ASSERT(channelLockTaken(channel));
  if (channel->deviceHandle || channel->toDebugger) {
    char kept[StagingSize];
    unsigned keptCount = 0;
    for (unsigned i = 0; i < count; ++i) {
      const char ch = text[i];
      if (channel->inEscape) {
        if (ch == EscapeEnd) channel->inEscape = false;
      } else if (ch == EscapeChar) {
        channel->inEscape = true;
      } else {
        kept[keptCount++] = ch;
        if (keptCount == sizeof kept) {
          keepForDevice(channel, kept, keptCount);
          keptCount = 0;
        }
      }
    }
    if (keptCount > 0) keepForDevice(channel, kept, keptCount);
  }
  if (channel->stderrHandle && count > 0) writeBytes(channel->stderrHandle, text, count);
}

void channelBeginMessage(DebugChannel* channel) {
  // Normally set up at load; a print before that sets the channel up itself.
  if (!channel->channelLockReady) initDebugChannel(channel, platformChannelDevices());
  EnterCriticalSection(&channel->channelLock);
  if (channel->messageDepth++ > 0) return;
  channel->pipe.startMessage(GetTickCount());
  channel->messageWritten = 0;
  openChannelDevice(channel);
  catchUpPipe(channel);
}

void channelEndMessage(DebugChannel* channel) {
  TROVEX_ASSERT(channel->messageDepth > 0);
  TROVEX_ASSERT(channelLockTaken(channel));
  if (--channel->messageDepth == 0) {
    // Closed after the message, not between its parts: another host that
    // shares the file could otherwise write between header and body.
    if ((channel->channelType & CloseAfterPrint) && channel->deviceHandle) closeDevice(channel);
    channel->pipe.endMessage();
    if (channel->onFallback && channel->deviceHandle) closeDevice(channel);
    // A device held beyond the message is this host's alone: no turn is needed.
    endFileTurn(&channel->fileTurn);
    channel->debugger.handOver();
  }
  LeaveCriticalSection(&channel->channelLock);
}

void channelPrint(DebugChannel* channel, const char* format, va_list* args) {
  char piece[StagingSize];
  channelBeginMessage(channel);
  formatInPieces(format, args, piece, StagingSize, putPiece, channel);
  channelEndMessage(channel);
}

void channelWrite(DebugChannel* channel, const char* text, unsigned count) {
  channelWriteMessage(channel, nullptr, 0, text, count);
}

void channelWriteMessage(DebugChannel* channel, const char* header, unsigned headerCount, const char* body,
                         unsigned bodyCount) {
  channelBeginMessage(channel);
  if (headerCount > 0 && headerCount + bodyCount <= StagingSize) {
    // One write per target for the whole message: the device and standard
    // error receive the same bytes in the same order as from two prints.
    char joined[StagingSize];
    std::memcpy(joined, header, headerCount);
    std::memcpy(joined + headerCount, body, bodyCount);
    channelPutRun(channel, joined, headerCount + bodyCount);
  } else {
    handOutInPieces(header, headerCount, StagingSize, putPiece, channel);
    handOutInPieces(body, bodyCount, StagingSize, putPiece, channel);
  }
  channelEndMessage(channel);
}

}  // namespace trovex
