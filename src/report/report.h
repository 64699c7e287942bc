// The library's own texts: the report on the machine and the time stamp,
// emitted as messages with no category and no identifier.
#pragma once

#include "protocol/protocol.h"

// The memory table on every call; the first call in the process adds the
// version, processor, language and drive sections.
void printSystemInfo(OutputContext* context);
