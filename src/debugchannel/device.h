// Inside the debug channel: its record and the steps of a print, on a record
// of the caller's, so that tests can run a channel of their own beside the
// process's.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "platform/win32.h"

// Where the devices are: the serial port and the files tried, in order, when
// the configured file cannot be opened.
struct ChannelDevices {
  const char* serialPort;
  const char* const* fallbackFiles;
  unsigned fallbackCount;
};
extern const ChannelDevices platformChannelDevices;

// channelType: bits 0 to 3 choose the device; bit 8 closes it after every print.
constexpr uint32_t ChannelDeviceMask = 0x0F;
constexpr uint32_t CloseAfterPrint = 0x100;
constexpr uint32_t SerialDevice = 0;
constexpr uint32_t StderrDevice = 1;
constexpr uint32_t FileDevice = 2;          // standard error too once no file opens
constexpr uint32_t FileAndStderrDevice = 3;

// The registry value "path" is read with at most 1023 bytes into a field of
// 1024, so that it always ends inside the field. Fixed by the configuration's
// format, not tunable.
constexpr DWORD ChannelPathReadSize = 1023;

struct DebugChannel {
  uint32_t channelType;       // device selection word; 1 after load
  char pathValue[1024];       // the registry's "path", NUL-terminated
  bool pathSet;               // pathValue holds a path read from the registry
  bool configLoaded;          // the registry has been looked at
  HANDLE deviceHandle;        // the open serial port, file or pipe, or null
  bool onFallback;            // deviceHandle is a fallback file standing in for pathValue
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
// Closes the device when the configuration asks for that after every print.
void channelAfterPrint(DebugChannel* channel);
// A whole print: lock, open, format, close-after-print, unlock.
void channelPrint(DebugChannel* channel, const char* format, va_list* args);
// The same for characters already produced: the device sees what a print
// that produced them would give it.
void channelWrite(DebugChannel* channel, const char* text, unsigned count);
// A produced header and body under one hold of the lock, as two writes of
// channelWrite would give them: in one write per target when they fit in
// 1024 characters and the device stays open between prints, else as two
// prints (the device closed and opened again between them when so configured).
void channelWriteMessage(DebugChannel* channel, const char* header, unsigned headerCount, const char* body,
                         unsigned bodyCount);
