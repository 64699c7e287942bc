// The process's debug channel: one per process, set up at load and closed at unload.
#include "debugchannel/channel.h"

#include "debugchannel/device.h"

namespace trovex {

DebugChannel debugChannel;

namespace {
// Produced text is written as a print that produced it would write it.
void putText(const MessageText& text) {
  if (text.text) channelWrite(&debugChannel, text.text, text.length);
  else channelPrint(&debugChannel, text.format, text.args);
}
}  // namespace

void startUpChannel() { initDebugChannel(&debugChannel, platformChannelDevices()); }

void shutDownChannel() {
  reportLostMessages(&debugChannel);
  closeDebugChannel(&debugChannel);
}

void deliverToChannel(const PreparedMessage& message) {
  if (message.headerDue && message.header.text && message.body.text) {
    channelWriteMessage(&debugChannel, message.header.text, message.header.length, message.body.text,
                        message.body.length);
    return;
  }
  // Header and body are one message: a pipe's wait is bounded over both.
  channelBeginMessage(&debugChannel);
  if (message.headerDue) putText(message.header);
  putText(message.body);
  channelEndMessage(&debugChannel);
}

}  // namespace trovex
