// The channel's device: the serial port, a file with its fallbacks, or
// standard error, opened at the first print and kept open (or closed after
// every print when the configuration says so).
#include <cstring>

#include "debugchannel/device.h"
#include "fileio/fileio.h"
#include "format/format.h"
#include "platform/paths.h"

namespace trovex {

namespace {

constexpr char EscapeChar = 27;
constexpr char EscapeEnd = 'm';
constexpr DWORD SerialBaudRate = 19200;
const char OpenFailureReport[] = "Cannot open protocol-file\n";

HANDLE standardError() {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

void writeBytes(HANDLE handle, const char* bytes, DWORD count) {
  DWORD written;
  WriteFile(handle, bytes, count, &written, nullptr);  // the channel never reports a failed write
}

void closeDevice(DebugChannel* channel) {
  CloseHandle(channel->deviceHandle);
  endFileTurn(&channel->fileTurn);
  channel->deviceHandle = nullptr;
  channel->onFallback = false;
  channel->deviceIsPipe = false;
  channel->pipeLineOpen = false;
  channel->newlineOwed = false;
}

// A pipe takes what it has room for at once; while it has none the message
// waits, up to PipeWaitMilliseconds from its start and only when it may wait
// at all. What the pipe did not take by then is not written: the message is
// lost, and the rest of it is dropped. False when the write failed.
bool writeToPipe(DebugChannel* channel, const char* bytes, DWORD count, DWORD* written) {
  DWORD done = 0;
  for (;;) {
    DWORD taken = 0;
    if (!WriteFile(channel->deviceHandle, bytes + done, count - done, &taken, nullptr)) {
      *written = done;
      return false;
    }
    done += taken;
    if (done >= count) break;
    if (!channel->messageMayWait || GetTickCount() - channel->messageStartTick >= PipeWaitMilliseconds) {
      channel->messageLost = true;
      // All but the final newline: the reader has the text, and the line
      // is ended before the next message instead of counting a loss.
      channel->newlineOwed = count - done == 1 && bytes[done] == '\n';
      break;
    }
    Sleep(1);
  }
  if (done > 0) channel->pipeLineOpen = bytes[done - 1] != '\n';
  *written = done;
  return true;
}

bool writeOnce(DebugChannel* channel, const char* bytes, DWORD count, DWORD* written) {
  if (channel->deviceIsPipe) return writeToPipe(channel, bytes, count, written);
  return WriteFile(channel->deviceHandle, bytes, count, written, nullptr) != 0;
}

// A device that stops taking writes (a pipe whose reader has gone, a full
// disk, a port unplugged) is closed and opened again at once: a pipe's new
// reader, the file again, or a fallback. When that fails too the device
// stays closed, and the next print opens it again.
void reopenDevice(DebugChannel* channel) {
  closeDevice(channel);
  openChannelDevice(channel);
}

// A line of the channel's own (a notice, an owed newline). True when the
// device took it whole; one that failed is opened again without it.
bool writeOwnLine(DebugChannel* channel, const char* bytes, DWORD count) {
  DWORD written = 0;
  if (writeOnce(channel, bytes, count, &written)) return !channel->messageLost;
  reopenDevice(channel);
  return false;
}

// Bytes of the message in progress. When the device fails part-way, the one
// opened in its place gets the message from its start: a pipe's new reader
// or a fallback never saw what the failed device took, which died with the
// old reader or stays in another file. Only the same file opened again holds
// that part already, and gets the rest alone. A message that cannot be
// written whole again is counted as lost.
void writeMessageBytes(DebugChannel* channel, const char* bytes, DWORD count) {
  if (channel->messageLost) {
    channel->newlineOwed = false;  // more than the newline is missing
    return;
  }
  const uint32_t before = channel->messageWritten;
  if (before < MessageHeadBytes) {
    const uint32_t kept = count < MessageHeadBytes - before ? count : MessageHeadBytes - before;
    std::memcpy(channel->messageHead + before, bytes, kept);
  }
  channel->messageWritten = before + count;
  DWORD written = 0;
  if (writeOnce(channel, bytes, count, &written)) return;
  const bool wasFile = !channel->deviceIsPipe, wasFallback = channel->onFallback;
  reopenDevice(channel);
  if (!channel->deviceHandle) return;
  DWORD again = 0;
  bool whole;
  if (wasFile && !channel->deviceIsPipe && wasFallback == channel->onFallback) {
    if (written > count) written = count;
    whole = writeOnce(channel, bytes + written, count - written, &again);
  } else if (before == 0) {
    whole = writeOnce(channel, bytes, count, &again);
  } else if (channel->messageWritten <= MessageHeadBytes) {
    whole = writeOnce(channel, channel->messageHead, channel->messageWritten, &again);
  } else {
    channel->messageLost = true;  // its start is no longer at hand
    return;
  }
  if (!whole) {
    closeDevice(channel);
    channel->messageLost = true;
  }
}

// The notice of `lost` messages, after a newline when a line is open.
constexpr unsigned LostNoticeSize = sizeof LostMessagesNotice + 12;
unsigned composeLostNotice(uint32_t lost, bool lineOpen, char* notice) {
  unsigned length = 0;
  if (lineOpen) notice[length++] = '\n';
  char digits[10];
  unsigned digitCount = 0;
  for (uint32_t rest = lost; digitCount == 0 || rest > 0; rest /= 10) digits[digitCount++] = char('0' + rest % 10);
  for (const char* at = LostMessagesNotice; *at; ++at) {
    if (at[0] == '%' && at[1] == 'u') {
      while (digitCount > 0) notice[length++] = digits[--digitCount];
      ++at;
    } else {
      notice[length++] = *at;
    }
  }
  return length;
}

// Tells the pipe how many messages it lost, on a line of its own.
void tellLostMessages(DebugChannel* channel) {
  char notice[LostNoticeSize];
  const bool whole = writeOwnLine(channel, notice, composeLostNotice(channel->lostMessages, channel->pipeLineOpen, notice));
  // A notice that the pipe took but for its newline has told the count: the
  // newline comes later, and telling the count again would count it twice.
  if (whole || channel->newlineOwed) channel->lostMessages = 0;
}

// Hands the message's text held for the debugger over, as one call.
void flushToDebugger(DebugChannel* channel) {
  if (channel->debuggerCount == 0) return;
  channel->debuggerText[channel->debuggerCount] = '\0';
  OutputDebugStringA(channel->debuggerText);
  channel->debuggerCount = 0;
}

// Filtered text for the device: written to a port, file or pipe, or held for
// the debugger until the message ends or a piece is full.
void keepForDevice(DebugChannel* channel, const char* bytes, unsigned count) {
  if (!channel->toDebugger) {
    if (channel->deviceHandle) writeMessageBytes(channel, bytes, count);
    return;
  }
  while (count > 0) {
    const unsigned room = DebuggerPieceSize - channel->debuggerCount;
    const unsigned step = count < room ? count : room;
    std::memcpy(channel->debuggerText + channel->debuggerCount, bytes, step);
    channel->debuggerCount += step;
    bytes += step;
    count -= step;
    if (channel->debuggerCount == DebuggerPieceSize) flushToDebugger(channel);
  }
}

// The port without sharing, at 19200 baud, 8 data bits, one stop bit, binary,
// no parity checking, DTR and RTS off; everything else as the port had it.
void openSerialPort(DebugChannel* channel) {
  HANDLE port = CreateFileA(channel->devices->serialPort, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port == INVALID_HANDLE_VALUE) return;  // no output; the next print tries again
  channel->deviceHandle = port;
  DCB line;
  std::memset(&line, 0, sizeof line);
  line.DCBlength = sizeof line;
  // Settings are written back only when they were read: an unread record
  // would put arbitrary settings on the port. Either result is otherwise ignored.
  if (!GetCommState(port, &line)) return;
  line.BaudRate = SerialBaudRate;
  line.fBinary = 1;
  line.fParity = 0;
  line.fDtrControl = DTR_CONTROL_DISABLE;
  line.fRtsControl = RTS_CONTROL_DISABLE;
  line.ByteSize = 8;
  line.StopBits = ONESTOPBIT;
  SetCommState(port, &line);
}

// A file or a named pipe ("\\.\pipe\NAME"), which opens the same way. A file
// is opened in its turn among the hosts that write it one message at a
// time (held until the message ends); one that another program holds is
// waited for briefly (waitForShare); a pipe whose every instance is taken,
// within what the message may wait.
HANDLE openAppending(DebugChannel* channel, const char* name, bool waitForShare) {
  const bool turnTaken = takeFileTurn(&channel->fileTurn, name);
  HANDLE file = waitForShare ? createFileWaitingForShare(name, GENERIC_WRITE, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL)
                             : CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY && channel->messageMayWait) {
    const DWORD waited = GetTickCount() - channel->messageStartTick;
    if (waited < PipeWaitMilliseconds && WaitNamedPipeA(name, PipeWaitMilliseconds - waited))
      file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE && turnTaken) {
    const DWORD error = GetLastError();
    endFileTurn(&channel->fileTurn);
    SetLastError(error);
  }
  return file;
}

void takeDevice(DebugChannel* channel, HANDLE file, bool fallback, uint32_t device) {
  SetFilePointer(file, 0, nullptr, FILE_END);  // a pipe has no position: the move fails and is ignored
  channel->deviceHandle = file;
  channel->onFallback = fallback;
  channel->pipeLineOpen = false;
  // A pipe is written without waiting on its reader; where the mode cannot
  // be set the writes wait as they would for a file.
  DWORD noWait = PIPE_NOWAIT;
  channel->deviceIsPipe =
      GetFileType(file) == FILE_TYPE_PIPE && SetNamedPipeHandleState(file, &noWait, nullptr, nullptr);
  channel->stderrHandle = device == FileAndStderrDevice ? standardError() : nullptr;
}

// The configured file, else the first fallback that opens, positioned at
// its end. With none, standard error takes the output. A configured path
// that failed is tried again a second later, not at every print (each try
// costs a failed open, and a busy pipe a wait); in between a fallback file
// stands in, held for one message at a time, so that hosts that all fell
// back share it message by message. A pipe's reader that starts, or starts
// again, gets the messages from the next try on.
void openChannelFile(DebugChannel* channel, uint32_t device) {
  const DWORD now = GetTickCount();
  if (!channel->pathFailed || now - channel->pathFailedTick >= PathRetryMilliseconds) {
    // After a failure the path is tried once, without waiting for a holder:
    // one that held it for a second holds it for long.
    HANDLE file = openAppending(channel, channel->pathValue, !channel->pathFailed);
    if (file != INVALID_HANDLE_VALUE) {
      channel->pathFailed = false;
      takeDevice(channel, file, false, device);
      return;
    }
    channel->pathFailed = true;
    channel->pathFailedTick = now;
  }
  for (unsigned i = 0; i < channel->devices->fallbackCount; ++i) {
    HANDLE file = openAppending(channel, channel->devices->fallbackFiles[i], true);
    if (file != INVALID_HANDLE_VALUE) {
      takeDevice(channel, file, true, device);
      return;
    }
  }
  channel->stderrHandle = standardError();
  // Said once per process, so that a missing directory does not go unnoticed
  // while standard error takes the channel's output.
  if (!channel->openFailureReported && channel->stderrHandle) {
    channel->openFailureReported = true;
    writeBytes(channel->stderrHandle, OpenFailureReport, sizeof OpenFailureReport - 1);
  }
}

// One print's characters are collected and written with one call per target
// and piece: each target still gets every byte, in order, and a print of up
// to StagingSize characters costs one write per target instead of one per
// character. Not a behavioural size: any size keeps the output the same.
constexpr uint16_t StagingSize = 1024;

void putPiece(void* channel, const char* text, unsigned count) {
  channelPutRun(static_cast<DebugChannel*>(channel), text, count);
}

}  // namespace

namespace {
// Filled at every ask rather than a guarded static: the DLL's guard would
// leak a handle per load.
ChannelDevices platformDevices;
}  // namespace

const ChannelDevices* platformChannelDevices() {
  platformDevices = ChannelDevices{ChannelSerialPort, channelFallbackFiles(), ChannelFallbackCount};
  return &platformDevices;
}

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

void openChannelDevice(DebugChannel* channel) {
  if (!channel->configLoaded) {
    channel->configLoaded = true;
    if (!channel->pathSet) readChannelConfig(channel);
  }
  if (channel->deviceHandle) return;
  const uint32_t device = channel->channelType & ChannelDeviceMask;
  if (device == SerialDevice) {
    openSerialPort(channel);
  } else if ((device == FileDevice || device == FileAndStderrDevice) && channel->pathSet) {
    openChannelFile(channel, device);
  } else if (device == DebuggerDevice) {
    channel->toDebugger = true;
  } else if (!channel->stderrHandle) {
    channel->stderrHandle = standardError();
  }
}

void channelPutRun(DebugChannel* channel, const char* text, unsigned count) {
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
  const DWORD now = GetTickCount();
  channel->messageStartTick = now;
  channel->messageLost = false;
  channel->messageWritten = 0;
  channel->messageMayWait = !channel->waitedInVain || now - channel->waitedInVainTick >= NoWaitMilliseconds;
  openChannelDevice(channel);
  if (channel->newlineOwed && channel->deviceIsPipe) {
    channel->newlineOwed = false;
    writeOwnLine(channel, "\n", 1);
  }
  if (channel->lostMessages > 0 && channel->deviceIsPipe && !channel->messageLost) tellLostMessages(channel);
}

void channelEndMessage(DebugChannel* channel) {
  if (--channel->messageDepth == 0) {
    // Closed after the message, not between its parts: another host that
    // shares the file could otherwise write between header and body.
    if ((channel->channelType & CloseAfterPrint) && channel->deviceHandle) closeDevice(channel);
    if (channel->messageLost && channel->newlineOwed) {
      channel->messageLost = false;  // delivered but for its newline, which the next message brings
    } else if (channel->messageLost) {
      ++channel->lostMessages;
      if (channel->messageMayWait) {
        channel->waitedInVain = true;
        channel->waitedInVainTick = GetTickCount();
      }
      channel->messageLost = false;
    }
    if (channel->onFallback && channel->deviceHandle) closeDevice(channel);
    // A device held beyond the message is this host's alone: no turn is needed.
    endFileTurn(&channel->fileTurn);
    flushToDebugger(channel);
  }
  LeaveCriticalSection(&channel->channelLock);
}

void reportLostMessages(DebugChannel* channel) {
  if (!channel->channelLockReady) return;
  EnterCriticalSection(&channel->channelLock);
  if (channel->lostMessages > 0) {
    channel->waitedInVain = false;  // the last word may wait as a message does
    channelBeginMessage(channel);
    const uint32_t unreported = channel->lostMessages;
    channel->messageLost = false;  // the notice is no message of the host's
    channelEndMessage(channel);
    HANDLE error = standardError();
    if (unreported > 0 && error) {
      char notice[LostNoticeSize];
      writeBytes(error, notice, composeLostNotice(unreported, false, notice));
    }
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
