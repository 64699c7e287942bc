// The process's debug channel: one per process, set up at load and closed at unload.
#include "debugchannel/channel.h"

#include "debugchannel/device.h"

DebugChannel debugChannel;

void startUpChannel() { initDebugChannel(&debugChannel, &platformChannelDevices); }

void shutDownChannel() { closeDebugChannel(&debugChannel); }

void channelVPrintf(const char* format, va_list* args) { channelPrint(&debugChannel, format, args); }

void channelWriteText(const char* text, unsigned count) { channelWrite(&debugChannel, text, count); }

void channelPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  channelVPrintf(format, &args);
  va_end(args);
}
