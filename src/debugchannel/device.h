// Inside the debug channel: its record and the steps of a print, on a record
// of the caller's, so that tests can run a channel of their own beside the
// process's.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "common/texts.h"
#include "fileio/fileio.h"
#include "platform/win32.h"

namespace trovex {

// Where the devices are: the serial port and the files tried, in order, when
// the configured file cannot be opened.
struct ChannelDevices {
  const char* serialPort;
  const char* const* fallbackFiles;
  unsigned fallbackCount;
};
// The platform's devices (platform/paths.h), set up at the first call.
const ChannelDevices* platformChannelDevices();

// channelType: bits 0 to 3 choose the device; bit 8 closes it after every print.
constexpr uint32_t ChannelDeviceMask = 0x0F;
constexpr uint32_t CloseAfterPrint = 0x100;
constexpr uint32_t SerialDevice = 0;
constexpr uint32_t StderrDevice = 1;
constexpr uint32_t FileDevice = 2;          // standard error too once no file opens
constexpr uint32_t FileAndStderrDevice = 3;
constexpr uint32_t DebuggerDevice = 4;      // OutputDebugStringA: the debugger's output window

// The registry value "path" is read with at most 1023 bytes into a field of
// 1024, so that it always ends inside the field. Fixed by the configuration's
// format, not tunable.
constexpr DWORD ChannelPathReadSize = 1023;

// A named pipe never holds a host for long: a message waits at most
// PipeWaitMilliseconds for the pipe to take it, and after a message that
// waited in vain, messages wait not at all for NoWaitMilliseconds. A
// configured path that failed to open is tried again after
// PathRetryMilliseconds. Fixed by what hosts are promised, not tunable.
constexpr DWORD PipeWaitMilliseconds = 50;
constexpr DWORD NoWaitMilliseconds = 1000;
constexpr DWORD PathRetryMilliseconds = 1000;

// The first bytes of each message that the channel keeps while it is being
// written, so that a device opened in place of one that failed part-way gets
// the message whole. Room for nearly every message; a longer one whose
// device fails after this much is counted as lost instead.
constexpr unsigned MessageHeadBytes = 4096;

struct DebugChannel {
  uint32_t channelType;       // device selection word; 1 after load
  char pathValue[1024];       // the registry's "path", NUL-terminated
  bool pathSet;               // pathValue holds a path read from the registry
  bool configLoaded;          // the registry has been looked at
  HANDLE deviceHandle;        // the open serial port, file or pipe, or null
  bool onFallback;            // deviceHandle is a fallback file standing in for pathValue; held for one message
  FileTurn fileTurn;          // the turn at the file being opened or written, held from its open to the message's end
  bool deviceIsPipe;          // deviceHandle is a named pipe, written without waiting on its reader
  bool pathFailed;            // the configured path failed to open at pathFailedTick
  DWORD pathFailedTick;       // GetTickCount of that failure
  unsigned messageDepth;      // nesting of channelBeginMessage; the outermost one is the message
  DWORD messageStartTick;     // GetTickCount at the message's start, for its wait on a pipe
  bool messageMayWait;        // the message may wait for the pipe (no vain wait in the last second)
  bool messageLost;           // the pipe did not take the message whole: the rest of it is not written
  bool waitedInVain;          // the last message that waited for the pipe was lost
  DWORD waitedInVainTick;     // GetTickCount at that message's end
  uint32_t lostMessages;      // messages the pipe lost that no notice has reported yet
  bool pipeLineOpen;          // the last byte the pipe took was not a newline
  bool newlineOwed;           // a message reached the pipe but for its final newline, which is written first
  uint32_t messageWritten;    // bytes of the message in progress handed to the device so far
  char messageHead[MessageHeadBytes];  // the first of them, written again on a device opened in place of a failed one
  bool toDebugger;            // device 4: the text goes to OutputDebugStringA
  unsigned debuggerCount;     // bytes of the message in progress held in debuggerText
  char debuggerText[DebuggerPieceSize + 1];  // the message for the debugger, NUL-terminated when handed over
  HANDLE stderrHandle;        // standard error receiving a copy of everything, or null; never closed
  bool inEscape;              // an escape sequence (ESC up to 'm') is being kept from the device
  CRITICAL_SECTION channelLock;
  bool channelLockReady;      // channelLock has been initialised
  bool openFailureReported;   // the failure to open any file has been reported on standard error
  const ChannelDevices* devices;
};

// The process's channel, in zeroed static storage until the library loads.
extern DebugChannel debugChannel;

// Gives a channel its initial values and initialises its lock.
void initDebugChannel(DebugChannel* channel, const ChannelDevices* devices);
// Closes the channel's device (never standard error) and deletes its lock.
void closeDebugChannel(DebugChannel* channel);

// Reads the key "qz\kprintf" under HKEY_CURRENT_USER into the channel.
void readChannelConfig(DebugChannel* channel);
// Reads the configuration at the first call, then opens the device if it is
// not open (or sets up standard error).
void openChannelDevice(DebugChannel* channel);
// Produced characters: through the escape filter (its state kept across
// prints) to the device, and unfiltered to standard error. One write per
// target for up to 1024 characters.
void channelPutRun(DebugChannel* channel, const char* text, unsigned count);
// The frame of one message, header and body: the lock is held and the device
// opened from begin to end (a device closed after every print is closed at
// the frame's end), and a pipe's wait is bounded over the whole. At
// the start, the pipe first gets the notice of messages it lost before.
// Prints and writes inside a frame belong to its message; outside one each
// is a message of its own.
void channelBeginMessage(DebugChannel* channel);
void channelEndMessage(DebugChannel* channel);
// At unload: messages lost with no notice yet are told to the pipe, or, when
// it cannot take the notice, to standard error.
void reportLostMessages(DebugChannel* channel);
// A whole print: lock, open, format, close-after-print, unlock.
void channelPrint(DebugChannel* channel, const char* format, va_list* args);
// The same for characters already produced: the device sees what a print
// that produced them would give it.
void channelWrite(DebugChannel* channel, const char* text, unsigned count);
// A produced header and body as one message, as two writes of channelWrite
// inside its frame would give them: in one write per target when they fit in
// 1024 characters, else in pieces. A device closed after every print is
// opened once for the whole message and closed at its end.
void channelWriteMessage(DebugChannel* channel, const char* header, unsigned headerCount, const char* body,
                         unsigned bodyCount);

}  // namespace trovex
