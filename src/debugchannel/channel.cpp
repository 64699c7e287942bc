// The debug channel. Not built yet: its device is never opened and prints
// produce no output.
#include "debugchannel/channel.h"

void channelVPrintf(const char*, va_list*) {}

void channelPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  channelVPrintf(format, &args);
  va_end(args);
}
