// libFuzzer target for date formatting. The first two bytes of an input choose
// the buffer size (0 to 256). With an even third byte, the next eight are a
// tick count whose calendar fields breakDownTime makes (they must come out in
// their ranges); with an odd one, the next 36 are the nine fields as they
// are, of any value, as a caller's own record may hold. The rest is the
// format, in an allocation of its own exact size. The buffer is
// an allocation of exactly the chosen size, so AddressSanitizer sees any
// write past it. Every result must follow the rule: the whole text when it
// fits with its NUL, else 0 and the text's first size - 1 characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "time/time.h"

using namespace trovex;

namespace {

constexpr size_t HeaderSize = 3 + sizeof(BrokenDownTime);
constexpr size_t LargestBuffer = 256;
// More than any conversion produces for each format byte: "%C" makes seven
// numbers and names of at most 11 characters each out of two bytes.
constexpr size_t MostPerFormatByte = 64;

bool inRange(int32_t value, int32_t low, int32_t high) { return value >= low && value <= high; }

bool fieldsInRange(const BrokenDownTime& t) {
  return inRange(t.second, 0, 59) && inRange(t.minute, 0, 59) && inRange(t.hour, 0, 23) &&
         inRange(t.monthDay, 1, 31) && inRange(t.month, 0, 11) && inRange(t.yearsSince1900, 70, 206) &&
         inRange(t.weekDay, 0, 6) && inRange(t.yearDay, 0, 365) && t.reserved == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t header[HeaderSize] = {};
  std::memcpy(header, data, size < HeaderSize ? size : HeaderSize);
  const size_t bufferSize = (header[0] | header[1] << 8) % (LargestBuffer + 1);
  BrokenDownTime time;
  if (header[2] & 1) {
    std::memcpy(&time, header + 3, sizeof time);
  } else {
    uint64_t ticks = 0;
    std::memcpy(&ticks, header + 3, sizeof ticks);
    breakDownTime(&ticks, &time);
    if (!fieldsInRange(time)) __builtin_trap();
  }

  const size_t formatSize = size > HeaderSize ? size - HeaderSize : 0;
  char* format = static_cast<char*>(std::malloc(formatSize + 1));
  if (formatSize) std::memcpy(format, data + HeaderSize, formatSize);
  format[formatSize] = '\0';

  const size_t wholeSize = formatSize * MostPerFormatByte + 1;
  char* whole = static_cast<char*>(std::malloc(wholeSize));
  const size_t length = formatTime(whole, wholeSize, format, &time);
  if (length != std::strlen(whole)) __builtin_trap();

  char* buffer = static_cast<char*>(std::malloc(bufferSize ? bufferSize : 1));
  const size_t result = formatTime(buffer, bufferSize, format, &time);
  if (length < bufferSize) {
    if (result != length || std::memcmp(buffer, whole, length + 1) != 0) __builtin_trap();
  } else if (bufferSize > 0) {
    if (result != 0 || std::memcmp(buffer, whole, bufferSize - 1) != 0 || buffer[bufferSize - 1] != '\0')
      __builtin_trap();
  } else if (result != 0) {
    __builtin_trap();
  }

  std::free(buffer);
  std::free(whole);
  std::free(format);
  return 0;
}
