// Message text produced once and handed to each destination: texts and
// identifiers on both sides of the lengths where the emission switches to
// formatting per destination arrive exactly as formatted text would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message_path.h"
#include "fileio/scratch.h"

namespace trovex {

namespace {

class PreparedText : public ScratchTest {};

std::string letters(size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
  return text;
}

TEST_F(PreparedText, LongTextsAndIdsArriveWholeInBothDestinations) {
  const struct {
    size_t textLength;  // characters the "%s%c" body produces, the character included
    size_t idLength;
  } rows[] = {{1, 3},    {1023, 3}, {1024, 3}, {1025, 3}, {2049, 3}, {96 * 11, 3}, {5, 15},
              {5, 16},   {5, 17},   {97, 249}, {5, 250},  {5, 251},  {5, 70000}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.textLength) + " characters, id of " + std::to_string(row.idLength));
    TestOutput out;
    const std::string name = path("protocol-" + std::to_string(row.textLength) + "-" + std::to_string(row.idLength));
    setOpenMode(&out.protocol, "w");
    setFileName(&out.protocol, name.c_str());
    const std::string text = letters(row.textLength - 1);
    const std::string id = letters(row.idLength);
    printAndClose(&out.context, "w", id.c_str(), "%s%c", text.c_str(), '!');

    // "%s" takes at most 65535 characters of the id.
    const std::string header = "\nwarn<" + id.substr(0, 65535) + ">: ";
    EXPECT_EQ(readWholeFile(name), header + text + "!");
    EXPECT_EQ(recordedText(), text + "!");
    std::vector<int> chunks(row.textLength / 96, 96);
    if (row.textLength % 96) chunks.push_back(static_cast<int>(row.textLength % 96));
    EXPECT_EQ(recordedChunkLengths(), chunks);
    ASSERT_FALSE(recordedCalls.empty());
    EXPECT_EQ(recordedCalls.front().id, id) << "the callback gets the id as it is";
  }
}

// A header at the start of a line has no newline in front, so it may be one
// character longer than one after an open line before it is formatted instead.
TEST_F(PreparedText, HeadersOnBothSidesOfTheLengthThatFits) {
  for (size_t idLength : {246u, 247u, 248u, 249u}) {
    SCOPED_TRACE("id of " + std::to_string(idLength));
    TestOutput out;
    const std::string name = path("header-" + std::to_string(idLength));
    setOpenMode(&out.protocol, "a");
    setFileName(&out.protocol, name.c_str());
    const std::string id = letters(idLength);
    printAndClose(&out.context, "w", id.c_str(), "open");
    printAndClose(&out.context, "w", id.c_str(), "ends\n");
    printAndClose(&out.context, "w", id.c_str(), "x");
    const std::string header = "warn<" + id + ">: ";
    EXPECT_EQ(readWholeFile(name), "\n" + header + "open\n" + header + "ends\n" + header + "x");
  }
}

}  // namespace

}  // namespace trovex
