// The debug channel: a character device configured per user in the registry
// (serial port, file, standard error) that receives every message.
#pragma once

#include <cstdarg>

// Print into the channel under its lock. With a null args the format is
// written as plain text.
void channelPrintf(const char* format, ...);
void channelVPrintf(const char* format, va_list* args);
// Characters already produced, as a print that produced them.
void channelWriteText(const char* text, unsigned count);

// At library load: the channel's initial values and its lock. At unload: the
// device (port or file) is closed and the lock deleted; standard error stays open.
void startUpChannel();
void shutDownChannel();
