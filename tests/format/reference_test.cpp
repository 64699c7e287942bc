// The examples of the user's reference, docs/format.md: the text, character
// and memory-dump rows live here, the integer and "f" rows in their own
// tests, and every example row of the reference must be a row of one of
// these tables with the same output.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "examples.h"

namespace trovex {

namespace {
const char dumpBytes[] = "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F\x10\x11\x12\x13";
const char textBytes[] = "a\tb\rc\n\"d\"\\";
const uint16_t wideText[] = {0x0041, 0x0142, 0x0000};
}  // namespace

const std::vector<FormatExample> textExamples = {
    FORMAT_EXAMPLE("%%", "none", "%", 0),
    FORMAT_EXAMPLE("%5%", "none", "%", 0),
    FORMAT_EXAMPLE("%s", "\"hello\"", "hello", "hello"),
    FORMAT_EXAMPLE("%s", "NULL", "**NULL**", nullptr),
    FORMAT_EXAMPLE("%#s", "\"abc\"", "\"abc\"", "abc"),
    FORMAT_EXAMPLE("%#s", "NULL", "\"**NULL**\"", nullptr),
    FORMAT_EXAMPLE("%.2s", "\"abc\"", "ab", "abc"),
    FORMAT_EXAMPLE("%5.2s", "\"abc\"", "   ab", "abc"),
    FORMAT_EXAMPLE("%-5.2s", "\"abc\"", "ab   ", "abc"),
    FORMAT_EXAMPLE("%05s", "\"ab\"", "   ab", "ab"),
    FORMAT_EXAMPLE("%-05s", "\"ab\"", "ab   ", "ab"),
    FORMAT_EXAMPLE("%#6s", "\"ab\"", "\"    ab\"", "ab"),
    FORMAT_EXAMPLE("%S", "`\"a\\tb\\rc\\n\\\"d\\\"\\\\\"`", "a\\tbc\\n\\\"d\\\"\\\\", textBytes),
    FORMAT_EXAMPLE("%13S", "`\"a\\tb\\rc\\n\\\"d\\\"\\\\\"`", "   a\\tbc\\n\\\"d\\\"\\\\", textBytes),
    FORMAT_EXAMPLE("%ws", "{0x0041, 0x0142, 0x0000}", "AB", wideText),
    FORMAT_EXAMPLE("%c", "'A'", "A", 'A'),
    FORMAT_EXAMPLE("%5c", "'A'", "A", 'A'),
    FORMAT_EXAMPLE("[%*c] %d", "5, 'x', 42", "[x] 42", 5, 'x', 42),  // "*" is taken, though ignored
    FORMAT_EXAMPLE("[%*.*C] %d", "5, 1, 'x', 42", "[x] 42", 5, 1, 'x', 42),
    FORMAT_EXAMPLE("%C", "9", ".", 9),
    FORMAT_EXAMPLE("%C", "0xA0", ".", 0xA0),
    FORMAT_EXAMPLE("%p", "bytes 0x00 to 0x13", "00010203 04050607 08090A0B 0C0D0E0F", dumpBytes),
    FORMAT_EXAMPLE("%.20p", "bytes 0x00 to 0x13", "00010203 04050607 08090A0B 0C0D0E0F10111213", dumpBytes),
    FORMAT_EXAMPLE("%.6P", "\"AB\\ncd\\0\"", "41420A63 6400   AB.cd.", "AB\ncd"),
    FORMAT_EXAMPLE("%.0p", "bytes 0x00 to 0x13", "", dumpBytes),
    FORMAT_EXAMPLE("%p", "NULL", "**NULL**", nullptr),
    FORMAT_EXAMPLE("%.0P", "NULL", "", nullptr),
    FORMAT_EXAMPLE("%.65535p", "bytes 0x00 to 0x13", "00010203 04050607 08090A0B 0C0D0E0F", dumpBytes),
    FORMAT_EXAMPLE("%.*P", "-1, \"ABCDEFGHIJKLMNOPQR\"",
                   "41424344 45464748 494A4B4C 4D4E4F50   ABCDEFGHIJKLMNOP", -1, "ABCDEFGHIJKLMNOPQR"),
    FORMAT_EXAMPLE("%.65535s", "\"abc\"", "abc", "abc"),
    FORMAT_EXAMPLE("%n", "a pointer", "", dumpBytes),
    FORMAT_EXAMPLE("%hd", "7", "d", 7),
    FORMAT_EXAMPLE("%e", "2.5", "", 2.5),
    FORMAT_EXAMPLE("50%", "none", "50", 0),
};

void expectExamples(const std::vector<FormatExample>& table) {
  for (const FormatExample& row : table)
    EXPECT_EQ(row.run(), row.expected) << row.format << " with " << row.arguments;
}

namespace {

TEST(FormatReference, TextExamples) { expectExamples(textExamples); }

#if !defined(_WIN32)
// The reference sits beside the tests in the source tree.
std::string referencePath() {
  std::string path = __FILE__;
  return path.substr(0, path.rfind("tests/format/")) + "docs/format.md";
}

// Splits "| `format` | arguments | `[output]` | ..." into its three cells;
// false for any other line.
bool parseExampleRow(const std::string& line, std::string* format, std::string* arguments, std::string* output) {
  if (line.compare(0, 3, "| `") != 0) return false;
  const size_t formatEnd = line.find("` | ", 3);
  if (formatEnd == std::string::npos) return false;
  const size_t argumentsEnd = line.find(" | `[", formatEnd + 4);
  if (argumentsEnd == std::string::npos) return false;
  const size_t outputEnd = line.find("]` |", argumentsEnd + 5);
  if (outputEnd == std::string::npos) return false;
  *format = line.substr(3, formatEnd - 3);
  *arguments = line.substr(formatEnd + 4, argumentsEnd - formatEnd - 4);
  *output = line.substr(argumentsEnd + 5, outputEnd - argumentsEnd - 5);
  return true;
}

TEST(FormatReference, EveryDocumentedExampleIsATestedRow) {
  std::ifstream reference(referencePath());
  ASSERT_TRUE(reference) << referencePath();
  int rows = 0;
  std::string line, format, arguments, output;
  while (std::getline(reference, line)) {
    if (!parseExampleRow(line, &format, &arguments, &output)) continue;
    ++rows;
    const FormatExample* found = nullptr;
    for (const auto* table : {&integerExamples, &floatExamples, &textExamples})
      for (const FormatExample& row : *table)
        if (row.format == format && row.arguments == arguments) found = &row;
    if (!found) {
      ADD_FAILURE() << "no test row for " << line;
      continue;
    }
    EXPECT_EQ(found->expected, output) << line;
  }
  EXPECT_GE(rows, 60) << "example rows found in " << referencePath();
}
#endif

}  // namespace

}  // namespace trovex
