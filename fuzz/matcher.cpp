// The iterative matcher and list splitter against the plain recursive ones of
// the tests: any difference traps. Input: pattern (or list) bytes, a zero
// byte, name bytes. Each text is copied into an allocation of exactly its
// length plus the terminator, so AddressSanitizer sees a read even one byte
// past the terminator.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../tests/filter/reference_matcher.h"
#include "filter/filter.h"

using namespace trovex;

namespace {

// The recursive matcher's time grows like the name's length to the power of
// the number of star runs; beyond these bounds only the library runs.
constexpr size_t MaxCheckedPattern = 64;
constexpr size_t MaxCheckedName = 48;
constexpr unsigned MaxCheckedStarRuns = 4;

unsigned starRuns(const char* text) {
  unsigned runs = 0;
  for (size_t i = 0; text[i] != '\0'; ++i)
    if (text[i] == '*' && (i == 0 || text[i - 1] != '*')) ++runs;
  return runs;
}

// A zero-terminated copy in a block of exactly length + 1 bytes.
char* exactCopy(const uint8_t* bytes, size_t length) {
  char* text = static_cast<char*>(std::malloc(length + 1));
  if (length) std::memcpy(text, bytes, length);
  text[length] = '\0';
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t split = 0;
  while (split < size && data[split] != 0) ++split;
  const size_t nameStart = split < size ? split + 1 : size;
  size_t end = nameStart;
  while (end < size && data[end] != 0) ++end;

  char* pattern = exactCopy(data, split);
  char* name = exactCopy(data + nameStart, end - nameStart);

  const bool single = matchPattern(pattern, name);
  const bool list = matchPatternList(pattern, name);
  if (split < MaxCheckedPattern && end - nameStart < MaxCheckedName &&
      starRuns(pattern) <= MaxCheckedStarRuns) {
    if (single != reference::matchPattern(pattern, name)) __builtin_trap();
    if (list != reference::matchPatternList(pattern, name)) __builtin_trap();
  }
  std::free(pattern);
  std::free(name);
  return 0;
}
