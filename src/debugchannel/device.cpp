// The channel's device: the serial port, a file with its fallbacks, or
// standard error, opened at the first print and kept open (or closed after
// every print when the configuration says so).
#include <cstring>

#include "debugchannel/device.h"
#include "format/format.h"
#include "platform/paths.h"

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
  channel->deviceHandle = nullptr;
  channel->onFallback = false;
}

// A device that stops taking writes (a pipe whose reader has gone, a full
// disk, a port unplugged) is closed, and opened again at once for the rest
// of the text: a pipe's new reader, or the fallback, gets it. When that
// fails too the device stays closed, and the next print opens it again.
void writeToDevice(DebugChannel* channel, const char* bytes, DWORD count) {
  DWORD written = 0;
  if (WriteFile(channel->deviceHandle, bytes, count, &written, nullptr)) return;
  closeDevice(channel);
  openChannelDevice(channel);
  if (!channel->deviceHandle) return;
  if (written > count) written = count;
  DWORD rest = 0;
  if (!WriteFile(channel->deviceHandle, bytes + written, count - written, &rest, nullptr)) closeDevice(channel);
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

// A named pipe whose every instance is taken: its server offers new ones as
// soon as it has taken the writers, though other writers may be quicker. An
// open waits for one this often, each time this long at most.
constexpr unsigned PipeBusyTries = 4;
constexpr DWORD PipeBusyWaitMilliseconds = 250;

// A file, or a named pipe ("\\.\pipe\NAME"), which opens the same way.
HANDLE openAppending(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  for (unsigned tries = 0; tries < PipeBusyTries && file == INVALID_HANDLE_VALUE &&
                           GetLastError() == ERROR_PIPE_BUSY && WaitNamedPipeA(name, PipeBusyWaitMilliseconds);
       ++tries)
    file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file;
}

// The configured file, else the first fallback that opens, positioned at
// its end (a pipe has no position: the move fails and is ignored). With
// none, standard error takes the output. While a fallback stands in, every
// print tries the configured file first and moves back to it once it opens:
// a pipe's reader that starts, or starts again, gets the next message.
void openChannelFile(DebugChannel* channel, uint32_t device) {
  HANDLE file = openAppending(channel->pathValue);
  const bool fallback = file == INVALID_HANDLE_VALUE;
  if (fallback && channel->deviceHandle) return;  // the fallback in use stays
  for (unsigned i = 0; file == INVALID_HANDLE_VALUE && i < channel->devices->fallbackCount; ++i)
    file = openAppending(channel->devices->fallbackFiles[i]);
  if (file != INVALID_HANDLE_VALUE) {
    if (channel->deviceHandle) closeDevice(channel);
    SetFilePointer(file, 0, nullptr, FILE_END);
    channel->deviceHandle = file;
    channel->onFallback = fallback;
    channel->stderrHandle = device == FileAndStderrDevice ? standardError() : nullptr;
    return;
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

const ChannelDevices platformChannelDevices = {ChannelSerialPort, ChannelFallbackFiles,
                                               sizeof ChannelFallbackFiles / sizeof ChannelFallbackFiles[0]};

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
  LeaveCriticalSection(&channel->channelLock);
  DeleteCriticalSection(&channel->channelLock);
  channel->channelLockReady = false;
}

void openChannelDevice(DebugChannel* channel) {
  if (!channel->configLoaded) {
    channel->configLoaded = true;
    if (!channel->pathSet) readChannelConfig(channel);
  }
  if (channel->deviceHandle && !channel->onFallback) return;
  const uint32_t device = channel->channelType & ChannelDeviceMask;
  if (device == SerialDevice) {
    openSerialPort(channel);
  } else if ((device == FileDevice || device == FileAndStderrDevice) && channel->pathSet) {
    openChannelFile(channel, device);
  } else if (!channel->stderrHandle) {
    channel->stderrHandle = standardError();
  }
}

void channelPutRun(DebugChannel* channel, const char* text, unsigned count) {
  if (channel->deviceHandle) {
    char kept[StagingSize];
    DWORD keptCount = 0;
    for (unsigned i = 0; i < count; ++i) {
      const char ch = text[i];
      if (channel->inEscape) {
        if (ch == EscapeEnd) channel->inEscape = false;
      } else if (ch == EscapeChar) {
        channel->inEscape = true;
      } else {
        kept[keptCount++] = ch;
        if (keptCount == sizeof kept) {
          writeToDevice(channel, kept, keptCount);
          keptCount = 0;
        }
      }
    }
    if (keptCount > 0 && channel->deviceHandle) writeToDevice(channel, kept, keptCount);
  }
  if (channel->stderrHandle && count > 0) writeBytes(channel->stderrHandle, text, count);
}

void channelAfterPrint(DebugChannel* channel) {
  if ((channel->channelType & CloseAfterPrint) && channel->deviceHandle) closeDevice(channel);
}

void channelPrint(DebugChannel* channel, const char* format, va_list* args) {
  // Normally set up at load; a print before that sets the channel up itself.
  if (!channel->channelLockReady) initDebugChannel(channel, &platformChannelDevices);
  char piece[StagingSize];
  EnterCriticalSection(&channel->channelLock);
  openChannelDevice(channel);
  formatInPieces(format, args, piece, StagingSize, putPiece, channel);
  channelAfterPrint(channel);
  LeaveCriticalSection(&channel->channelLock);
}

void channelWrite(DebugChannel* channel, const char* text, unsigned count) {
  channelWriteMessage(channel, nullptr, 0, text, count);
}

void channelWriteMessage(DebugChannel* channel, const char* header, unsigned headerCount, const char* body,
                         unsigned bodyCount) {
  if (!channel->channelLockReady) initDebugChannel(channel, &platformChannelDevices);
  EnterCriticalSection(&channel->channelLock);
  openChannelDevice(channel);
  if (headerCount > 0 && headerCount + bodyCount <= StagingSize && !(channel->channelType & CloseAfterPrint)) {
    // One write per target for the whole message: the device and standard
    // error receive the same bytes in the same order as from two prints.
    char joined[StagingSize];
    std::memcpy(joined, header, headerCount);
    std::memcpy(joined + headerCount, body, bodyCount);
    channelPutRun(channel, joined, headerCount + bodyCount);
  } else {
    // Closed after every print, the device sees the header as a print of its own.
    if (headerCount > 0) {
      handOutInPieces(header, headerCount, StagingSize, putPiece, channel);
      channelAfterPrint(channel);
      openChannelDevice(channel);
    }
    handOutInPieces(body, bodyCount, StagingSize, putPiece, channel);
  }
  channelAfterPrint(channel);
  LeaveCriticalSection(&channel->channelLock);
}
