// The directive parser and the text, character and memory-dump conversions,
// beyond the documented examples in reference_test.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "examples.h"
#include "support.h"

namespace trovex {

namespace {

const char* const NullText = nullptr;

// Rows whose name says "differs" show a deliberate difference from the common printf.
TEST(FormatParser, FlagsAreReadOnlyInTheirFixedOrder) {
  // "0" then "-": "-" becomes the conversion letter, the argument stays unconsumed.
  EXPECT_EQ(formatted("%0-5d%s", "next"), "5dnext");
  // differs: "+" is no flag but the conversion letter; 7 stays the next argument.
  EXPECT_EQ(formatted("%+d%c", '7'), "d7");
  EXPECT_EQ(formatted("% d%c", '7'), "d7");
  // "%lLd": only "l" is a length letter; "L" is the conversion letter and "d" plain text.
  EXPECT_EQ(formatted("%lLd%c", 'z'), "dz");
  EXPECT_EQ(formatted("%5-d"), "d") << "'-' out of place is the conversion letter";
  EXPECT_EQ(formatted("%.5.3d"), "3d") << "second '.' is the conversion letter";
  EXPECT_EQ(formatted("%hd"), "d") << "'h' is an unknown letter";
  EXPECT_EQ(formatted("%e%E%g%G%F%q|%s", "x"), "|x") << "unknown letters take no argument";
}

TEST(FormatParser, WidthAndPrecisionFromDigitsAndStars) {
  EXPECT_EQ(formatted("[%*s]", 4, "ab"), "[  ab]");
  EXPECT_EQ(formatted("[%.*s]", 1, "ab"), "[a]");
  EXPECT_EQ(formatted("[%*.*s]", 3, 1, "ab"), "[  a]");
  // Digits right after a "*" width are a precision.
  EXPECT_EQ(formatted("[%*1s]", 3, "ab"), "[  a]");
  // "%.s" has no precision at all.
  EXPECT_EQ(formatted("[%.s]", "abc"), "[abc]");
  // A negative "*" width keeps its low 16 bits: a large width, not left alignment.
  const std::string wide = formatted("%*s", -5, "x");
  EXPECT_EQ(wide.size(), 65531u);
  EXPECT_EQ(wide.back(), 'x');
  // Digit widths are taken modulo 65536.
  EXPECT_EQ(formatted("%65537s", "x"), "x");
  EXPECT_EQ(formatted("%65538s", "x"), " x");
}

TEST(FormatParser, FormatEndingInsideADirectiveEndsTheRun) {
  const struct {
    const char* format;
    const char* expected;
  } rows[] = {
      {"abc%", "abc"}, {"abc%-", "abc"}, {"abc%L", "abc"}, {"abc%#-0", "abc"},
      {"abc%5.3", "abc"}, {"abc%lw", "abc"}, {"%", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(formatted(row.format, 1, 2), row.expected) << row.format;
  // A "*" before the end still consumed its argument, and nothing more is read.
  EXPECT_EQ(formatted("x%*", 5), "x");
}

TEST(FormatText, PlainTextWidthPrecisionAndAlignment) {
  const struct {
    const char* format;
    const char* text;
    const char* expected;
  } rows[] = {
      {"[%2s]", "abcd", "[abcd]"},     {"[%-6s]", "abc", "[abc   ]"},
      {"[%#s]", "abc", "[\"abc\"]"},   {"[%#5s]", "ab", "[\"   ab\"]"},
      {"[%#-5s]", "ab", "[\"ab   \"]"}, {"[%.0s]", "abc", "[]"},
      {"[%s]", "", "[]"},              {"[%3s]", "", "[   ]"},
      {"[%ls]", "abc", "[abc]"},       {"[%Ls]", "abc", "[abc]"},
  };
  for (const auto& row : rows) EXPECT_EQ(formatted(row.format, row.text), row.expected) << row.format;
}

TEST(FormatText, NullTextPrintsMarker) {
  EXPECT_EQ(formatted("%S", NullText), "**NULL**");
  EXPECT_EQ(formatted("%.4s", NullText), "**NU");
  // The marker is 8-bit text even for a wide directive.
  EXPECT_EQ(formatted("%ws", NullText), "**NULL**");
}

TEST(FormatText, QuotedPrecisionCutsLongText) {
  const std::string text(150, 'q');
  EXPECT_EQ(formatted("%#.100s", text.c_str()), "\"" + std::string(100, 'q') + "\"");
  const std::string huge(70000, 'h');
  EXPECT_EQ(formatted("%s", huge.c_str()).size(), 65535u) << "at most 65535 characters are taken";
}

TEST(FormatText, EscapedModeRewritesControlCharacters) {
  EXPECT_EQ(formatted("%S", "a\tb\rc\nd"), "a\\tbc\\nd");
  EXPECT_EQ(formatted("%S", "\a\b\f\x1b\"\\"), "\\a\\b\\f\\e\\\"\\\\");
  EXPECT_EQ(formatted("%S", "\v\x01\x1f|\x7f\x80\x9f"), "|\x7f\x80\x9f") << "other controls dropped";
  EXPECT_EQ(formatted("%S", "\xa0"), "\\\xa0");
  EXPECT_EQ(formatted("%S", "\xe4\xff"), "\xe4\xff");
  // Fill counts source characters, not emitted ones.
  EXPECT_EQ(formatted("[%6S]", "\t\r\n"), "[   \\t\\n]");
  EXPECT_EQ(formatted("[%-6S]", "\t\r\n"), "[\\t\\n   ]");
  EXPECT_EQ(formatted("%#S", "say \"hi\""), "\"say \\\"hi\\\"\"");
  // 8-bit text is scanned a word at a time; 16-bit text a unit at a time,
  // through the same table. Every byte, at every place in and across words:
  for (int c = 1; c < 256; ++c) {
    for (size_t at = 0; at < 20; ++at) {
      std::string text(24, 'x');
      text[at] = static_cast<char>(c);
      std::vector<uint16_t> units(text.begin(), text.end());
      for (uint16_t& unit : units) unit &= 0xFF;
      units.push_back(0);
      ASSERT_EQ(formatted("%S", text.c_str()), formatted("%wS", units.data())) << c << " at " << at;
      ASSERT_EQ(formatted("%.9S", text.c_str()), formatted("%.9wS", units.data())) << c << " at " << at;
    }
  }
}

TEST(FormatText, WideTextUsesLowBytes) {
  const uint16_t units[] = {0x0041, 0x0142, 0x0000};
  EXPECT_EQ(formatted("[%ws]", units), "[AB]");
  const uint16_t stopsAtZeroLowByte[] = {0x0061, 0x0100, 0x0062, 0x0000};
  EXPECT_EQ(formatted("[%ws]", stopsAtZeroLowByte), "[a]");
  const uint16_t escaped[] = {0x0009, 0x0141, 0x0000};
  EXPECT_EQ(formatted("[%5wS]", escaped), "[   \\tA]");
}

TEST(FormatCharacter, PlainAndPrintableOnly) {
  EXPECT_EQ(formatted("%c%c", 'a', 0x141), "aA") << "low 8 bits";
  EXPECT_EQ(formatted("%c", 0), std::string(1, '\0')) << "a zero byte is emitted";
  EXPECT_EQ(formatted("[%5c|%-5c|%05c]", 'x', 'y', 'z'), "[x|y|z]") << "width ignored";
  EXPECT_EQ(formatted("%C%C%C%C", 9, 0xE4, 0xA0, 0x7F), ".\xe4..");
  EXPECT_EQ(formatted("%C%C%C", 0x20, 0x7E, 0xA1), " ~\xa1");
}

TEST(FormatDump, HexadecimalLinesAndCharacterColumn) {
  unsigned char bytes[40];
  for (unsigned i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(formatted("%.20P", bytes),
            "00010203 04050607 08090A0B 0C0D0E0F   ................\n10111213   ....");
  EXPECT_EQ(formatted("%.0p|%.0P|", bytes, bytes), "||");
  EXPECT_EQ(formatted("%.3p", bytes), "000102");
  EXPECT_EQ(formatted("%#-08.5p", bytes), "00010203 04") << "flags and width ignored";
  const char text[] = "Hi!\x7f\xa0~ z";
  EXPECT_EQ(formatted("%.8P", text), "4869217F A07E207A   Hi!..~ z");
  EXPECT_EQ(formatted("%.*p", 33, bytes).size(), 33u * 2 + 6u) << "three blanks in each full line";
}

TEST(FormatDump, NullPointerPrintsMarkerOnlyWhereBytesWouldBeRead) {
  // Rows run in lambdas without captures: the arguments are namespace constants.
  static const void* const none = nullptr;
  static const char bytes[] = "ABCDEFGHIJKLMNOPQ";
  expectExamples({
      FORMAT_EXAMPLE("%.0p", "NULL", "", none),
      FORMAT_EXAMPLE("%.0P", "NULL", "", none),
      FORMAT_EXAMPLE("%65535.0P", "NULL", "", none),
      FORMAT_EXAMPLE("%*.*p", "5, 0, NULL", "", 5, 0, none),
      FORMAT_EXAMPLE("%.0p", "valid", "", bytes),
      FORMAT_EXAMPLE("%.0P", "valid", "", bytes),
      FORMAT_EXAMPLE("%65535.0P", "valid", "", bytes),
      FORMAT_EXAMPLE("%*.*p", "5, 0, valid", "", 5, 0, bytes),
      FORMAT_EXAMPLE("%p", "NULL", "**NULL**", none),
      FORMAT_EXAMPLE("%.40P", "NULL", "**NULL**", none),
      FORMAT_EXAMPLE("%.*p", "-1, NULL", "**NULL**", -1, none),
      FORMAT_EXAMPLE("%.1P", "NULL", "**NULL**", none),
  });
}

TEST(FormatOther, CountDirectiveNeverWrites) {
  int target = 42;
  EXPECT_EQ(formatted("a%nb%s", &target, "c"), "abc");
  EXPECT_EQ(target, 42);
}

TEST(FormatOther, VerbatimRunCopiesDirectivesAsText) {
  std::string out;
  FormatSink sink;
  beginFormatRun(&sink, "100% %s %d%%", nullptr,
                 [](FormatSink* s) { static_cast<std::string*>(s->state)->push_back(s->ch); }, &out);
  formatToSink(&sink);
  endFormatRun(&sink);
  EXPECT_EQ(out, "100% %s %d%%");
  EXPECT_EQ(*sink.format, '\0');
}

// Counts the output calls of a run with no run output, one argument list.
unsigned putCalls(const char* format, ...) {
  unsigned calls = 0;
  va_list args;
  va_start(args, format);
  FormatSink sink;
  beginFormatRun(&sink, format, &args, [](FormatSink* s) { ++*static_cast<unsigned*>(s->state); }, &calls);
  formatToSink(&sink);
  endFormatRun(&sink);
  va_end(args);
  return calls;
}

TEST(FormatOther, PutIsCalledOncePerCharacterAndNeverForEmptyFormats) {
  EXPECT_EQ(putCalls("ab%dc%s", 42, "xyz"), 8u) << "a, b, 4, 2, c, x, y, z";
  EXPECT_EQ(putCalls("%5s|", "x"), 6u) << "the fill counts";
  EXPECT_EQ(putCalls(""), 0u);
  EXPECT_EQ(putCalls(nullptr), 0u) << "a null format is empty text";
}

}  // namespace

}  // namespace trovex
