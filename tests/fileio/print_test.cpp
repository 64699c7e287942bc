// Formatted printing into a stream: the staging in 256-character pieces and
// the 16-bit count of characters produced.
#include "scratch.h"

namespace trovex {

namespace {

class Printing : public ScratchTest {};

TEST_F(Printing, EveryPieceReachesTheFileAndTheCountIsModulo65536) {
  const size_t lengths[] = {0, 1, 255, 256, 257, 512, 513, 70000};
  for (size_t length : lengths) {
    const std::string name = path("print.txt");
    std::string text = patternBytes(length);
    for (char& c : text) c = static_cast<char>('A' + static_cast<unsigned char>(c) % 26);  // no NUL inside
    Stream* stream = openStream(name.c_str(), "w");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(vprintStream(stream, text.c_str(), nullptr), static_cast<uint16_t>(length)) << length;
    EXPECT_EQ(closeStream(stream), 0);
    EXPECT_TRUE(readWholeFile(name) == text) << length;
  }
}

TEST_F(Printing, SeventyThousandCharactersCount4464) {
  Stream* stream = openStream(path("long.txt").c_str(), "w");
  ASSERT_NE(stream, nullptr);
  const std::string half(35000, 'x');
  EXPECT_EQ(printStream(stream, "%s%s", half.c_str(), half.c_str()), 4464);
  EXPECT_EQ(closeStream(stream), 0);
  EXPECT_EQ(readWholeFile(path("long.txt")).size(), 70000u);
}

TEST_F(Printing, WithoutAnArgumentListTheFormatIsPlainText) {
  const std::string name = path("plain.txt");
  Stream* stream = openStream(name.c_str(), "w");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(vprintStream(stream, "100%s done", nullptr), 10);
  EXPECT_EQ(printStream(stream, "<%s|%c>", "ab", 'z'), 6);
  EXPECT_EQ(closeStream(stream), 0);
  EXPECT_EQ(readWholeFile(name), "100%s done<ab|z>");
}

#if !defined(_WIN32)
class PrintingFailures : public SimTest {};

TEST_F(PrintingFailures, CharactersAreCountedEvenWhenTheyDoNotReachTheFile) {
  Stream* stream = openStream(path("lost.txt").c_str(), "w");
  ASSERT_NE(stream, nullptr);
  sim::failCall("WriteFile", 0, 0, ERROR_DISK_FULL);
  const std::string text(9000, 'y');
  EXPECT_EQ(vprintStream(stream, text.c_str(), nullptr), 9000);
  EXPECT_EQ(closeStream(stream), -1);
}
#endif

}  // namespace

}  // namespace trovex
