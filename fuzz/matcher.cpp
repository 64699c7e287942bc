// The iterative matcher and list splitter against the plain recursive ones of
// the tests: any difference traps. Input: pattern (or list) bytes, a zero
// byte, name bytes. Each text gets an allocation of its exact size, so
// AddressSanitizer sees any read past its terminator.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../tests/dispatch/reference_matcher.h"
#include "dispatch/filter.h"

namespace {

// The recursive matcher's time grows like the name's length to the power of
// the number of star runs; beyond these bounds only the library runs.
constexpr size_t MaxCheckedPattern = 64;
constexpr size_t MaxCheckedName = 48;
constexpr unsigned MaxCheckedStarRuns = 4;

unsigned starRuns(const std::vector<char>& text) {
  unsigned runs = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '*' && (i == 0 || text[i - 1] != '*')) ++runs;
  return runs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t split = 0;
  while (split < size && data[split] != 0) ++split;
  size_t end = split < size ? split + 1 : size;
  while (end < size && data[end] != 0) ++end;

  std::vector<char> pattern(data, data + split);
  pattern.push_back('\0');
  std::vector<char> name(split < size ? data + split + 1 : data + size, data + end);
  name.push_back('\0');

  const bool single = matchPattern(pattern.data(), name.data());
  const bool list = matchPatternList(pattern.data(), name.data());
  if (pattern.size() > MaxCheckedPattern || name.size() > MaxCheckedName ||
      starRuns(pattern) > MaxCheckedStarRuns)
    return 0;
  if (single != reference::matchPattern(pattern.data(), name.data())) __builtin_trap();
  if (list != reference::matchPatternList(pattern.data(), name.data())) __builtin_trap();
  return 0;
}
