// The debug channel: a character device configured per user in the registry
// (serial port, file, standard error) that receives every message.
#pragma once

#include <cstdarg>

#include "common/message.h"

namespace trovex {

// The channel as a destination of one message: the header when it is due,
// then the body, as two prints under the channel's lock would give them
// (produced text that fits goes out in one write per target).
void deliverToChannel(const PreparedMessage& message);

// At library load: the channel's initial values and its lock. At unload: the
// device (port or file) is closed and the lock deleted; standard error stays open.
void startUpChannel();
void shutDownChannel();

}  // namespace trovex
