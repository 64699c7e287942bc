// The host's callback as a destination of one message.
#pragma once

#include "common/message.h"
#include "trovex.h"

namespace trovex {

// The header call (when label or id is not empty), the body in data calls of
// at most 96 bytes, then the end call.
void deliverToCallback(MessageCallback callback, const char* label, const char* id, const MessageText& body);

}  // namespace trovex
