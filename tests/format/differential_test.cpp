// The engine against the C library's snprintf, an oracle nobody here wrote,
// over generated values and widths. The two languages agree only on this
// subset, and the test keeps to it:
//   %d %i %u %x %X %o        with no flags, with a width, or "0" and a width;
//                            a bare width (space fill) only for values >= 0
//   %Ld %Lu %Lx %LX %Lo      the same for 64 bits, against "ll"
//   %s                       with width, precision, both, and "-" with a width
//   %c                       every byte, zero included
//   %%                       and plain text between directives
// Everything else differs on purpose; NamedDifferencesReallyDiffer shows a
// witness for each difference, so the subset cannot quietly grow or shrink.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <type_traits>

#include "support.h"

namespace trovex {

namespace {

std::string theirs(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return n < 0 ? std::string("(snprintf failed)") : std::string(buffer, static_cast<size_t>(n));
}

// The same directive in both languages: ours with "L", theirs with "ll".
struct Directive {
  std::string ours, theirs;
};

Directive integerDirective(std::mt19937& random, char letter, bool wide, bool spaceFillAllowed) {
  std::string flags;
  const unsigned form = random() % 3;
  if (form == 1 || (form == 2 && spaceFillAllowed)) {
    if (form == 1) flags = "0";
    flags += std::to_string(1 + random() % 24);
  }
  return {"%" + flags + (wide ? "L" : "") + letter, "%" + flags + (wide ? "ll" : "") + letter};
}

// Values of every magnitude, the extremes more often than chance gives them.
uint64_t anyBits(std::mt19937_64& random) {
  switch (random() % 8) {
    case 0: return 0;
    case 1: return ~uint64_t{0};
    case 2: return uint64_t{1} << 63;
    case 3: return (uint64_t{1} << 63) - 1;
    case 4: return uint64_t{0x80000000};
    default: return random() >> (random() % 64);
  }
}

const char integerLetters[] = "diuxXo";

// int or long long, against "%d" or "%lld" and their siblings.
template <typename Value>
void expectIntegersAgree(unsigned seed) {
  const bool wide = sizeof(Value) == 8;
  std::mt19937 choose(seed);
  std::mt19937_64 values(seed);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t bits = anyBits(values);
    const Value value = static_cast<Value>(static_cast<std::make_unsigned_t<Value>>(wide ? bits : bits ^ bits >> 32));
    const char letter = integerLetters[choose() % 6];
    const bool isSigned = letter == 'd' || letter == 'i';
    const Directive d = integerDirective(choose, letter, wide, !isSigned || value >= 0);
    ASSERT_EQ(formatted(d.ours.c_str(), value), theirs(d.theirs.c_str(), value)) << d.ours << " of " << value;
  }
}

TEST(FormatDifferential, Integers32) { expectIntegersAgree<int>(32); }
TEST(FormatDifferential, Integers64) { expectIntegersAgree<long long>(64); }

TEST(FormatDifferential, Text) {
  std::mt19937 random(115);
  for (int i = 0; i < 20000; ++i) {
    std::string text(random() % 30, ' ');
    for (char& c : text) c = static_cast<char>(1 + random() % 255);
    std::string directive = "%";
    switch (random() % 5) {
      case 0: break;
      case 1: directive += std::to_string(1 + random() % 40); break;
      case 2: directive += "-" + std::to_string(1 + random() % 40); break;
      case 3: directive += "." + std::to_string(random() % 40); break;
      default: directive += (random() % 2 ? "-" : "") + std::to_string(1 + random() % 40) + "." + std::to_string(random() % 40);
    }
    directive += "s";
    ASSERT_EQ(formatted(directive.c_str(), text.c_str()), theirs(directive.c_str(), text.c_str())) << directive << " of " << text;
  }
}

TEST(FormatDifferential, EveryCharacter) {
  for (int c = 0; c < 256; ++c) EXPECT_EQ(formatted("<%c>", c), theirs("<%c>", c)) << c;
}

TEST(FormatDifferential, MixedMessages) {
  std::mt19937 choose(7);
  std::mt19937_64 values(7);
  for (int i = 0; i < 5000; ++i) {
    const int count = static_cast<int>(choose() % 100000);
    const unsigned long long size = anyBits(values);
    const unsigned flags = static_cast<unsigned>(values());
    const char* name = i % 2 ? "volume" : "";
    const int mode = 'a' + static_cast<int>(choose() % 26);
    ASSERT_EQ(formatted("[%5d|%-8s|%08X|%c|%Lu] 100%%\n", count, name, flags, mode, size),
              theirs("[%5d|%-8s|%08X|%c|%llu] 100%%\n", count, name, flags, mode, size));
  }
}

// Integer directives that run straight to their conversion give what the
// general integer conversion gives: a "*" width sends the same directive there.
TEST(FormatDifferential, DirectIntegersAgreeWithTheGeneralConversion) {
  std::mt19937_64 values(26);
  const struct {
    const char* flags;
    int width;
  } fields[] = {{"", 0}, {"0", 0}, {"#", 0}, {"#0", 0}, {"", 5}, {"0", 5}, {"#", 12}, {"", 30}};
  for (const auto& field : fields)
    for (const char letter : std::string("diuxXoODIU"))
      for (int i = 0; i < 200; ++i) {
        const uint64_t bits = anyBits(values);
        const unsigned low = static_cast<unsigned>(bits ^ bits >> 32);
        const std::string width = field.width ? std::to_string(field.width) : "";
        for (const char* length : {"", "L"}) {
          const std::string direct = std::string("<%") + field.flags + width + length + letter + ">";
          const std::string starred = std::string("<%") + field.flags + "*" + length + letter + ">";
          if (*length)
            ASSERT_EQ(formatted(direct.c_str(), bits), formatted(starred.c_str(), field.width, bits)) << direct;
          else
            ASSERT_EQ(formatted(direct.c_str(), low), formatted(starred.c_str(), field.width, low)) << direct;
        }
      }
}

// A witness for every difference that the subset above leaves out: if one of
// these ever agrees, the engine has drifted toward the common printf.
TEST(FormatDifferential, NamedDifferencesReallyDiffer) {
  EXPECT_NE(formatted("%5d", -42), theirs("%5d", -42));        // sign before the fill
  EXPECT_NE(formatted("%-5d", 42), theirs("%-5d", 42));        // no fill after
  EXPECT_NE(formatted("%.3d", 12345), theirs("%.3d", 12345));  // precision cuts
  EXPECT_NE(formatted("%8.3d", 42), theirs("%8.3d", 42));      // width lowered to the precision
  EXPECT_NE(formatted("%#x", 0), theirs("%#x", 0));            // prefix on zero
  EXPECT_NE(formatted("%#6x", 255), theirs("%#6x", 255));      // prefix outside the width
  EXPECT_NE(formatted("%+d", 7), theirs("%+d", 7));            // "+" is no flag
  EXPECT_NE(formatted("% d", 7), theirs("% d", 7));            // " " is no flag
  EXPECT_NE(formatted("%hd", 7), theirs("%hd", 7));            // no "h"
  EXPECT_NE(formatted("%D", 1234), theirs("%d", 1234));        // grouping
  EXPECT_NE(formatted("%s", static_cast<const char*>(nullptr)), "(null)");  // null marker
  EXPECT_NE(formatted("%#s", "ab"), theirs("%s", "ab"));       // quoted text
  EXPECT_NE(formatted("%S", "a\tb"), theirs("%s", "a\tb"));    // escapes
  EXPECT_NE(formatted("%f", 2.0), theirs("%f", 2.0));          // trailing zeros dropped
  EXPECT_NE(formatted("%.0f", 2.7), theirs("%.0f", 2.7));      // precision 0 cuts
  EXPECT_NE(formatted("%.1f", 0.25), theirs("%.1f", 0.25));    // half up, not to even
  EXPECT_NE(formatted("%2f", 12345.5), theirs("%2f", 12345.5));  // width cuts the integer part
  EXPECT_NE(formatted("%e", 2.5), theirs("%e", 2.5));          // no exponent forms
}

}  // namespace

}  // namespace trovex
