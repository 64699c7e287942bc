// The channel's text for the debugger (device 4), held until the message ends
// or a piece is full, then handed to OutputDebugStringA in one call.
#include <cstring>

#include "debugchannel/device.h"

namespace trovex {

void DebuggerBuffer::add(const char* bytes, unsigned length) {
  while (length > 0) {
    TROVEX_ASSERT(count < DebuggerPieceSize);  // a full piece was handed over at once
    const unsigned room = DebuggerPieceSize - count;
    const unsigned step = length < room ? length : room;
    std::memcpy(text + count, bytes, step);
    count += step;
    bytes += step;
    length -= step;
    if (count == DebuggerPieceSize) handOver();
  }
}

void DebuggerBuffer::handOver() {
  TROVEX_ASSERT(count <= DebuggerPieceSize);
  if (count == 0) return;
  text[count] = '\0';
  OutputDebugStringA(text);
  count = 0;
}

}  // namespace trovex
