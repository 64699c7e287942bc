// Inside the debug channel: its record and the steps of a print, on a record
// of the caller's, so that tests can run a channel of their own beside the
// process's.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "common/contract.h"
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

// What a named pipe could not take: the channel's account of lost messages
// and of how long the message in progress may still wait for the pipe. A
// pipe never holds a host: a message waits at most PipeWaitMilliseconds, and
// not at all within NoWaitMilliseconds after one that waited in vain. The
// reader sees every message whole or in the count of a notice before the
// next one it takes. Written under the channel's lock.
struct PipeLosses {
  DWORD messageStartTick;     // GetTickCount at the message's start, for its wait on the pipe
  bool messageMayWait;        // the message may wait for the pipe (no vain wait in the last second)
  bool messageLost;           // the pipe did not take the message whole: the rest of it is not written
  bool waitedInVain;          // the last message that waited for the pipe was lost
  DWORD waitedInVainTick;     // GetTickCount at that message's end
  uint32_t lostMessages;      // messages the pipe lost that no notice has reported yet
  bool lineOpen;              // the last byte the pipe took was not a newline
  bool newlineOwed;           // a message reached the pipe but for its final newline, which is written first

  // A new message, which has lost nothing yet.
  void startMessage(DWORD now) {
    messageStartTick = now;
    messageLost = false;
    messageMayWait = !waitedInVain || now - waitedInVainTick >= NoWaitMilliseconds;
  }
  // Milliseconds the message may still wait for the pipe: 0 once its time is up.
  DWORD waitLeft(DWORD now) const {
    const DWORD waited = now - messageStartTick;
    return messageMayWait && waited < PipeWaitMilliseconds ? PipeWaitMilliseconds - waited : 0;
  }
  // At the message's end: one the pipe did not take whole is counted, and
  // if it waited, the next second's messages do not wait. One that lacked
  // only its final newline is delivered: that newline comes first next time.
  void endMessage();
  // The pipe's connection is gone: a new one starts with no line and no newline owed.
  void connectionClosed() {
    lineOpen = false;
    newlineOwed = false;
  }
};

// The message held for the debugger (device 4): it goes to OutputDebugStringA
// in one call when it ends, or in pieces of DebuggerPieceSize bytes. Written
// under the channel's lock.
struct DebuggerBuffer {
  unsigned count;                      // bytes held in text, at most DebuggerPieceSize
  char text[DebuggerPieceSize + 1];    // NUL-terminated when handed over

  // Holds the bytes, handing each piece over as it fills.
  void add(const char* bytes, unsigned length);
  // Hands what is held over in one call, and empties the buffer.
  void handOver();
};

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
  PipeLosses pipe;            // what the pipe lost, and the message's wait for it
  uint32_t messageWritten;    // bytes of the message in progress handed to the device so far
  char messageHead[MessageHeadBytes];  // the first of them, written again on a device opened in place of a failed one
  bool toDebugger;            // device 4: the text goes to OutputDebugStringA
  DebuggerBuffer debugger;    // the message in progress for the debugger
  HANDLE stderrHandle;        // standard error receiving a copy of everything, or null; never closed
  bool inEscape;              // an escape sequence (ESC up to 'm') is being kept from the device
  CRITICAL_SECTION channelLock;
  bool channelLockReady;      // channelLock has been initialised
  bool openFailureReported;   // the failure to open any file has been reported on standard error
  const ChannelDevices* devices;
};

// The channel's lock is taken. Functions that write the channel's state
// check it; the owner's entries are all that both systems' sections record
// alike, so this sees a lock not taken at all, not one taken by another thread.
inline bool channelLockTaken(const DebugChannel* channel) { return channel->channelLock.RecursionCount > 0; }

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

// Between the channel's own files: the device (device.cpp), the pipe's
// writes and losses (pipe.cpp), and the frame of a message (message.cpp).
// Every step but standardError runs under the channel's lock.

// The process's standard error, or null when it has none.
HANDLE standardError();
// Writes to a handle; the channel never reports a failed write.
void writeBytes(HANDLE handle, const char* bytes, DWORD count);
// Closes the device and ends its turn at the file; a pipe's connection
// state goes with it.
void closeDevice(DebugChannel* channel);
// Closes a device that stopped taking writes and opens it again at once
// (a pipe's new reader, the file again, or a fallback); when that fails the
// device stays closed, and the next print opens it again.
void reopenDevice(DebugChannel* channel);
// One write to the device; a pipe's within what the message may wait.
// False when the write failed.
bool writeOnce(DebugChannel* channel, const char* bytes, DWORD count, DWORD* written);
// Bytes of the message in progress, kept whole across a device that fails
// part-way.
void writeMessageBytes(DebugChannel* channel, const char* bytes, DWORD count);
// A write to the pipe that waits no longer than the message may.
bool writeToPipe(DebugChannel* channel, const char* bytes, DWORD count, DWORD* written);
// At a message's start on a pipe: the newline a message before still owes,
// then the notice of the messages the pipe lost.
void catchUpPipe(DebugChannel* channel);

}  // namespace trovex
