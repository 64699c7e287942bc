// Wildcard matching of identifiers. Every element but "*" takes exactly one
// character of the name, so when the part after a star fails, only the last
// star needs to take one more character: an earlier star taking more could
// only shift the same fixed-width part further right, where the last star
// could have put it anyway. One return point, no recursion, and time bounded
// by the product of the two lengths, however many stars there are.
#include "filter/filter.h"

namespace trovex {

namespace {

using Byte = unsigned char;

// Set bounds compare as signed bytes, so 0x80-0xFF order below 0x00-0x7F.
int signedByte(Byte c) { return c < 0x80 ? c : c - 0x100; }

// Matches the element at p (not "*", not the end) against the name character
// c (not NUL). Returns the position after the element, or null if c does not
// match it or the pattern ends inside a set.
const Byte* matchElement(const Byte* p, Byte c) {
  const Byte folded = foldTable[c];
  switch (*p) {
    case '?':
      return p + 1;
    case '\\':
      if (p[1] == ';') return c == ';' ? p + 2 : nullptr;
      return c == '\\' ? p + 1 : nullptr;
    case '[': {
      ++p;
      const bool negated = *p == '!' || *p == '^';
      if (negated) ++p;
      bool member = false;
      // The first member is taken even if it is "]".
      do {
        if (!*p) return nullptr;
        const int low = signedByte(foldTable[*p++]);
        int high = low;
        if (*p == '-' && p[1] != ']') {
          if (!p[1]) return nullptr;
          high = signedByte(foldTable[p[1]]);
          p += 2;
        }
        if (low <= signedByte(folded) && signedByte(folded) <= high) member = true;
      } while (*p != ']');
      return member != negated ? p + 1 : nullptr;
    }
    default:
      return foldTable[*p] == folded ? p + 1 : nullptr;
  }
}

// Characters that start an element other than a plain character.
bool isSpecial(Byte c) { return c == '?' || c == '[' || c == '\\'; }

// The folded character that any name matching the elements at p starts with,
// or -1 when the first element is "?" or a set.
int firstLiteral(const Byte* p) {
  if (*p == '?' || *p == '[') return -1;
  if (*p == '\\' && p[1] == ';') return ';';
  return foldTable[*p];
}

// The first position from n whose character can start the rest, or the end.
const Byte* skipTo(const Byte* n, int literal) {
  if (literal >= 0)
    while (*n && foldTable[*n] != literal) ++n;
  return n;
}

}  // namespace

bool matchPattern(const char* pattern, const char* name) {
  const Byte* p = reinterpret_cast<const Byte*>(pattern);
  const Byte* n = reinterpret_cast<const Byte*>(name);
  const Byte* afterStar = nullptr;  // pattern after the last run of stars, or null
  const Byte* starTake = nullptr;   // where the rest after that run is being tried
  int restLiteral = -1;             // folded character the rest must start with, or -1
  for (;;) {
    const Byte pc = *p;
    if (pc == '*') {
      // A run of "*" and "?": each "?" takes one character, the stars together
      // act as one.
      for (; *p == '*' || *p == '?'; ++p) {
        if (*p == '?') {
          if (!*n) return false;
          ++n;
        }
      }
      if (!*p) return true;
      afterStar = p;
      restLiteral = firstLiteral(p);
      starTake = skipTo(n, restLiteral);
      n = starTake;
      continue;
    }
    if (!pc) {
      if (!*n) return true;
    } else if (*n) {
      if (!isSpecial(pc)) {
        if (foldTable[pc] == foldTable[*n]) {
          ++p;
          ++n;
          continue;
        }
      } else if (const Byte* next = matchElement(p, *n)) {
        p = next;
        ++n;
        continue;
      }
    }
    // Mismatch: the last star takes one more character, if one is left, and
    // passes over those where the rest cannot start.
    if (!afterStar || !*starTake) return false;
    starTake = skipTo(starTake + 1, restLiteral);
    p = afterStar;
    n = starTake;
  }
}

}  // namespace trovex
