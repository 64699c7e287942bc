// A plain recursive wildcard matcher, written straight from the pattern rules
// as they are described, to check the library's iterative one against: one
// level of recursion per run of stars, no memoisation. Its time grows steeply
// with the number of stars, so callers bound what they give it. Shared by the
// differential test, the fuzz target and the benchmark.
#pragma once

#include <cstddef>
#include <cstring>

namespace trovex {

namespace reference {

// Lower case for ASCII and the Windows-1252 capitals, except 0xD7 (the
// multiplication sign) and 0xDF (sharp s), which have no case partner here.
inline unsigned char fold(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  return c;
}

inline int asSigned8(unsigned char c) { return c < 128 ? c : c - 256; }

inline bool matchPattern(const unsigned char* p, const unsigned char* n) {
  for (;;) {
    const unsigned char pc = fold(*p);
    if (pc == '\0') return *n == '\0';

    if (pc == '*') {
      while (*p == '*' || *p == '?') {
        if (*p == '?') {
          if (*n == '\0') return false;
          ++n;
        }
        ++p;
      }
      if (*p == '\0') return true;
      if (*n == '\0') return false;
      // The literal the rest starts with, where there is one, lets positions
      // that cannot match be skipped.
      int first = -1;
      if (*p == '\\' && p[1] == ';') first = ';';
      else if (*p != '[' && *p != '?') first = fold(*p);
      for (; *n != '\0'; ++n) {
        if (first >= 0 && fold(*n) != first) continue;
        if (matchPattern(p, n)) return true;
      }
      return false;
    }

    if (*n == '\0') return false;
    const unsigned char nc = fold(*n);

    if (pc == '?') {
      ++p;
      ++n;
    } else if (pc == '[') {
      ++p;
      bool negated = false;
      if (*p == '!' || *p == '^') {
        negated = true;
        ++p;
      }
      bool member = false;
      bool firstMember = true;
      for (;;) {
        if (*p == '\0') return false;
        if (*p == ']' && !firstMember) break;
        firstMember = false;
        const unsigned char low = fold(*p);
        ++p;
        unsigned char high = low;
        if (*p == '-' && p[1] != ']') {
          if (p[1] == '\0') return false;
          high = fold(p[1]);
          p += 2;
        }
        if (asSigned8(low) <= asSigned8(nc) && asSigned8(nc) <= asSigned8(high)) member = true;
      }
      ++p;  // the closing "]"
      if (member == negated) return false;
      ++n;
    } else if (pc == '\\' && p[1] == ';') {
      if (*n != ';') return false;
      p += 2;
      ++n;
    } else {
      if (pc != nc) return false;
      ++p;
      ++n;
    }
  }
}

inline bool matchPattern(const char* pattern, const char* name) {
  return matchPattern(reinterpret_cast<const unsigned char*>(pattern),
                      reinterpret_cast<const unsigned char*>(name));
}

// Splits the list at each ";" with no backslash directly before it and tries
// each pattern in turn; all but the last go through a 2000-byte buffer and are
// cut to 1999 characters.
inline bool matchPatternList(const char* list, const char* name) {
  const char* start = list;
  for (;;) {
    const char* sep = start;
    while (*sep != '\0' && !(*sep == ';' && (sep == start || sep[-1] != '\\'))) ++sep;
    if (*sep == '\0') return matchPattern(start, name);
    char buffer[2000];
    std::size_t length = static_cast<std::size_t>(sep - start);
    if (length > 1999) length = 1999;
    std::memcpy(buffer, start, length);
    buffer[length] = '\0';
    if (matchPattern(buffer, name)) return true;
    start = sep + 1;
  }
}

}  // namespace reference

}  // namespace trovex
