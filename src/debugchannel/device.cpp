// The channel's device: the serial port, a file with its fallbacks (or a
// named pipe, which opens as a file does), or standard error, opened at the
// first print and kept open (or closed after every message when the
// configuration says so), and opened again when it stops taking writes.
#include <cstring>

#include "debugchannel/device.h"
#include "fileio/fileio.h"
#include "platform/paths.h"

namespace trovex {

namespace {

constexpr DWORD SerialBaudRate = 19200;
const char OpenFailureReport[] = "Cannot open protocol-file\n";

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
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY) {
    const DWORD left = channel->pipe.waitLeft(GetTickCount());
    if (left > 0 && WaitNamedPipeA(name, left))
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
  channel->pipe.lineOpen = false;
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

// Filled at every ask rather than a guarded static: the DLL's guard would
// leak a handle per load.
ChannelDevices platformDevices;

}  // namespace

const ChannelDevices* platformChannelDevices() {
  platformDevices = ChannelDevices{ChannelSerialPort, channelFallbackFiles(), ChannelFallbackCount};
  return &platformDevices;
}

HANDLE standardError() {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

void writeBytes(HANDLE handle, const char* bytes, DWORD count) {
  DWORD written;
  WriteFile(handle, bytes, count, &written, nullptr);  // the channel never reports a failed write
}

void closeDevice(DebugChannel* channel) {
  TROVEX_ASSERT(channelLockTaken(channel));
  CloseHandle(channel->deviceHandle);
  endFileTurn(&channel->fileTurn);
  channel->deviceHandle = nullptr;
  channel->onFallback = false;
  channel->deviceIsPipe = false;
  channel->pipe.connectionClosed();
}

void reopenDevice(DebugChannel* channel) {
  closeDevice(channel);
  openChannelDevice(channel);
}

bool writeOnce(DebugChannel* channel, const char* bytes, DWORD count, DWORD* written) {
  if (channel->deviceIsPipe) return writeToPipe(channel, bytes, count, written);
  return WriteFile(channel->deviceHandle, bytes, count, written, nullptr) != 0;
}

// Bytes of the message in progress. When the device fails part-way, the one
// opened in its place gets the message from its start: a pipe's new reader
// or a fallback never saw what the failed device took, which died with the
// old reader or stays in another file. Only the same file opened again holds
// that part already, and gets the rest alone. A message that cannot be
// written whole again is counted as lost.
void writeMessageBytes(DebugChannel* channel, const char* bytes, DWORD count) {
  TROVEX_ASSERT(channel->messageDepth > 0);
  TROVEX_ASSERT(channelLockTaken(channel));
  if (channel->pipe.messageLost) {
    channel->pipe.newlineOwed = false;  // more than the newline is missing
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
    channel->pipe.messageLost = true;  // its start is no longer at hand
    return;
  }
  if (!whole) {
    closeDevice(channel);
    channel->pipe.messageLost = true;
  }
}

void openChannelDevice(DebugChannel* channel) {
  TROVEX_ASSERT(channelLockTaken(channel));
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

}  // namespace trovex
