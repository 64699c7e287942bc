// Inside the format engine: host text read a machine word at a time. A word
// may be read past a text's terminating zero as long as it stays inside the
// page of its first byte, which the text's own zero is in or after: such a
// read never faults. The bytes past the zero are never used.
#pragma once

#include <cstdint>
#include <cstring>

#include "common/contract.h"

namespace trovex {

using Word = uintptr_t;
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first byte of a word is its lowest");

constexpr uintptr_t PageSize = 4096;
constexpr Word ByteOnes = ~Word{0} / 0xFF;  // 0x01 in every byte
constexpr Word ByteHighBits = ByteOnes << 7;

// A word from text may be read without crossing into the next page.
inline bool wordStaysInPage(const void* text) {
  return reinterpret_cast<uintptr_t>(text) % PageSize <= PageSize - sizeof(Word);
}

// The one read that may pass a text's zero is exempt from the sanitizers,
// which would count the bytes after the zero as reads of whatever follows
// the text; every other access of its callers stays checked.
__attribute__((no_sanitize("address", "thread"))) inline Word readWord(const void* text) {
  Word word;
  std::memcpy(&word, text, sizeof word);
  return word;
}

// The high bit of each byte below Bound. The lowest bit set is exact; a
// higher one may be set by the borrow out of a byte below it.
template <uint8_t Bound>
inline Word bytesBelow(Word word) {
  static_assert(Bound <= 0x80, "above 0x80 a byte's own high bit hides the borrow");
  return (word - ByteOnes * Bound) & ~word & ByteHighBits;
}

// The same for bytes equal to `value`.
inline Word bytesEqual(Word word, uint8_t value) { return bytesBelow<1>(word ^ (ByteOnes * value)); }

// The index of the byte whose high bit is the lowest set in `marks` (not 0).
inline unsigned firstMarkedByte(Word marks) {
  TROVEX_ASSERT(marks != 0);  // no marked byte: the count of trailing zeros is undefined
  return static_cast<unsigned>(__builtin_ctzll(marks)) / 8;
}

}  // namespace trovex
