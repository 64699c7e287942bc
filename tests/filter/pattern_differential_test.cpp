// The iterative matcher against two oracles: the plain recursive matcher of
// reference_matcher.h on generated patterns over an alphabet rich in special
// characters, and the C library's fnmatch on the ASCII subset where the two
// pattern languages agree.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "filter/filter.h"
#include "reference_matcher.h"

#if !defined(_WIN32)
#include <fnmatch.h>
#endif

namespace trovex {

namespace {

// Every special character, letters in both cases, Windows-1252 letters with
// and without a case partner (0xD7 and 0xDF have none, 0xFF's is not folded).
const char RichAlphabet[] = "*?[]!^-\\;aAbBz\xC4\xE4\xD7\xDF\xFF";

class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}

  size_t below(size_t limit) { return std::uniform_int_distribution<size_t>(0, limit - 1)(random_); }
  char from(const char* alphabet, size_t size) { return alphabet[below(size)]; }

  std::string text(const char* alphabet, size_t size, size_t maxLength) {
    std::string out(below(maxLength + 1), ' ');
    for (char& c : out) c = from(alphabet, size);
    return out;
  }

  // A name that the pattern is likely to match: each element of the pattern
  // is replaced by a character it could take, with the occasional slip.
  std::string nameFor(const std::string& pattern, const char* alphabet, size_t size) {
    std::string name;
    for (size_t i = 0; i < pattern.size(); ++i) {
      const char c = pattern[i];
      if (c == '*') {
        for (size_t k = below(4); k > 0; --k) name += from(alphabet, size);
      } else if (c == '?') {
        name += from(alphabet, size);
      } else if (c == '[') {
        const size_t close = pattern.find(']', i + 2);
        if (close != std::string::npos && below(2)) {
          name += pattern[i + 1 + below(close - i - 1)];
          i = close;
        } else {
          name += from(alphabet, size);
        }
      } else if (c == '\\' && i + 1 < pattern.size() && pattern[i + 1] == ';') {
        name += ';';
        ++i;
      } else {
        name += swapCase(c);
      }
      if (below(12) == 0) name += from(alphabet, size);
      if (below(12) == 0 && !name.empty()) name.pop_back();
    }
    return name;
  }

 private:
  char swapCase(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (below(2) == 0) return c;
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7)) return static_cast<char>(u + 32);
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) return static_cast<char>(u - 32);
    return c;
  }

  std::mt19937 random_;
};

// The text in an allocation of exactly its size, so that AddressSanitizer
// sees a read past its terminator.
struct Exact {
  explicit Exact(const std::string& text) : bytes(text.c_str(), text.c_str() + text.size() + 1) {}
  const char* c_str() const { return bytes.data(); }
  std::vector<char> bytes;
};

struct Tally {
  unsigned matched = 0, unmatched = 0;
  void add(bool result) { ++(result ? matched : unmatched); }
};

// Both answers must be common, or the comparison proves little.
void expectBothAnswersCommon(const Tally& tally) {
  const unsigned total = tally.matched + tally.unmatched;
  EXPECT_GT(tally.matched, total / 10);
  EXPECT_GT(tally.unmatched, total / 10);
}

TEST(PatternDifferential, SameAnswersAsTheRecursiveDefinition) {
  Generator gen(20240611);
  const size_t size = sizeof RichAlphabet - 1;
  Tally tally;
  for (int i = 0; i < 200000; ++i) {
    const std::string pattern = gen.text(RichAlphabet, size, 12);
    const std::string name =
        gen.below(3) ? gen.nameFor(pattern, RichAlphabet, size) : gen.text(RichAlphabet, size, 10);
    const bool expected = reference::matchPattern(pattern.c_str(), name.c_str());
    ASSERT_EQ(matchPattern(Exact(pattern).c_str(), Exact(name).c_str()), expected)
        << "pattern {" << pattern << "} name {" << name << "}";
    tally.add(expected);
  }
  expectBothAnswersCommon(tally);
}

// Patterns made mostly of stars, sets and literals, where backtracking over
// several stars decides the answer.
TEST(PatternDifferential, SameAnswersWithManyStars) {
  Generator gen(77);
  const char stars[] = "****??ab[a-b]\\;";
  const char names[] = "aabbAB;";
  Tally tally;
  for (int i = 0; i < 50000; ++i) {
    std::string pattern;
    for (size_t k = gen.below(10); k > 0; --k) {
      const size_t pick = gen.below(sizeof stars - 1);
      if (stars[pick] == '[') pattern += "[a-b]";
      else if (stars[pick] == '\\') pattern += "\\;";
      else pattern += stars[pick];
    }
    const std::string name = gen.text(names, sizeof names - 1, 14);
    const bool expected = reference::matchPattern(pattern.c_str(), name.c_str());
    ASSERT_EQ(matchPattern(Exact(pattern).c_str(), Exact(name).c_str()), expected)
        << "pattern {" << pattern << "} name {" << name << "}";
    tally.add(expected);
  }
  expectBothAnswersCommon(tally);
}

TEST(PatternDifferential, ListsSplitAsTheRecursiveDefinitionSplits) {
  Generator gen(4711);
  const char alphabet[] = ";;;\\\\*?[]-aAb\xC4\xE4";
  const size_t size = sizeof alphabet - 1;
  Tally tally;
  for (int i = 0; i < 50000; ++i) {
    const std::string list = gen.text(alphabet, size, 14);
    const std::string name = gen.text("aAb;\\\xE4", 6, 4);
    const bool expected = reference::matchPatternList(list.c_str(), name.c_str());
    ASSERT_EQ(matchPatternList(Exact(list).c_str(), Exact(name).c_str()), expected)
        << "list {" << list << "} name {" << name << "}";
    tally.add(expected);
  }
  expectBothAnswersCommon(tally);
}

#if !defined(_WIN32)
// The C library's fnmatch with FNM_CASEFOLD agrees with this matcher on ASCII
// patterns built from letters, "?", "*" and closed sets, negated with "!" or
// not, whose members are letters, ranges between two letters of the same case,
// and "]" or "-" at the start or "-" at the end. Outside it the
// languages differ on purpose: a backslash escapes any character there but
// only ";" here; an unclosed "[" is a literal there and matches nothing here;
// "[:alpha:]" is a class there and plain members here; "^" negates there only
// without POSIXLY_CORRECT; and bytes above 127 fold and order by the locale
// there but as signed Windows-1252 bytes here.
std::string fnmatchSubsetPattern(Generator& gen) {
  const char letters[] = "abcABC";
  std::string pattern;
  for (size_t k = gen.below(8); k > 0; --k) {
    switch (gen.below(6)) {
      case 0: pattern += '*'; break;
      case 1: pattern += '?'; break;
      case 2: {
        pattern += '[';
        if (gen.below(3) == 0) pattern += '!';
        if (gen.below(5) == 0) pattern += ']';
        if (gen.below(5) == 0) pattern += '-';
        for (size_t m = 1 + gen.below(3); m > 0; --m) {
          const char low = gen.from(letters, 6);
          pattern += low;
          if (gen.below(2)) {
            // A second letter of the same case, on either side of the first.
            const bool upper = low <= 'Z';
            pattern += '-';
            pattern += static_cast<char>((upper ? 'A' : 'a') + gen.below(3));
          }
        }
        if (gen.below(5) == 0) pattern += '-';
        pattern += ']';
        break;
      }
      default: pattern += gen.from(letters, 6);
    }
  }
  return pattern;
}

TEST(PatternDifferential, SameAnswersAsFnmatchOnTheCommonAsciiSubset) {
  Generator gen(1999);
  const char names[] = "abcABC-]!";
  Tally tally;
  for (int i = 0; i < 100000; ++i) {
    const std::string pattern = fnmatchSubsetPattern(gen);
    const std::string name =
        gen.below(2) ? gen.nameFor(pattern, names, sizeof names - 1) : gen.text(names, sizeof names - 1, 6);
    const bool expected = fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
    ASSERT_EQ(matchPattern(Exact(pattern).c_str(), Exact(name).c_str()), expected)
        << "pattern {" << pattern << "} name {" << name << "}";
    tally.add(expected);
  }
  expectBothAnswersCommon(tally);
}
#endif

}  // namespace

}  // namespace trovex
