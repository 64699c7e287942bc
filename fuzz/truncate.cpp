// libFuzzer target for the truncation scan: where a protocol file that grew
// too large is cut. Input: four bytes of keepSize, then the file's text, in
// an allocation of exactly its size so that AddressSanitizer sees any read
// past it. The cut must be the last form feed at or before the scan's limit
// (one past size - keepSize, at most the last byte), or 0 without one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/protocol.h"

using namespace trovex;

namespace {

uint32_t referenceCut(const uint8_t* text, uint32_t size, uint32_t keepSize) {
  if (size == 0) return 0;
  const uint64_t limit = keepSize >= 2 && keepSize <= size ? uint64_t{size} - keepSize + 1 : size - 1u;
  for (uint64_t i = limit + 1; i-- > 0;)
    if (text[i] == '\f') return static_cast<uint32_t>(i);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t header[4] = {};
  std::memcpy(header, data, size < 4 ? size : 4);
  // Mostly keep sizes near the text's length, sometimes any 32-bit value.
  uint32_t keepSize = header[0] | header[1] << 8 | header[2] << 16 | static_cast<uint32_t>(header[3]) << 24;
  if (!(header[3] & 0x80)) keepSize &= 0xFFFF;
  const uint32_t textSize = size > 4 ? static_cast<uint32_t>(size - 4) : 0;
  uint8_t* text = static_cast<uint8_t*>(std::malloc(textSize ? textSize : 1));
  if (textSize) std::memcpy(text, data + 4, textSize);
  if (findCutPoint(text, textSize, keepSize) != referenceCut(text, textSize, keepSize)) __builtin_trap();
  std::free(text);
  return 0;
}
