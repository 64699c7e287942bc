// Reading: short files and AtEnd, reads that bypass the buffer, and how
// reading and writing on one stream meet.
#include "scratch.h"

namespace trovex {

namespace {

class Reads : public ScratchTest {};

TEST_F(Reads, ShortFileDeliversWhatItHasThenStaysAtEnd) {
  const std::string name = path("four.txt");
  writeWholeFile(name, "wxyz");
  Stream* stream = openStream(name.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  char data[10] = {};
  EXPECT_EQ(readStream(data, 1, 10, stream), 4u);
  EXPECT_EQ(std::string(data, 4), "wxyz");
  EXPECT_TRUE(stream->flags & AtEnd);
  errorNumber = 0;
  EXPECT_EQ(readStream(data, 1, 10, stream), 0u);
  EXPECT_EQ(errorNumber.load(), 1);
  EXPECT_EQ(closeStream(stream), 0);

  writeWholeFile(name, "abcde");
  stream = openStream(name.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(readStream(data, 2, 5, stream), 2u);  // five bytes make two whole elements
  EXPECT_EQ(closeStream(stream), 0);
}

TEST_F(Reads, ChunksOfEverySizeReassembleTheFile) {
  const std::string name = path("big.bin");
  const std::string content = patternBytes(60000);
  writeWholeFile(name, content);
  Stream* stream = openStream(name.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  const uint32_t sizes[] = {1, 100, 8187, 8188, 9000, 3, 8189, 20000};
  std::string got;
  std::string chunk(20000, '\0');
  for (int round = 0; got.size() < content.size() && round < 100; ++round) {
    const uint32_t size = sizes[round % 8];
    got.append(chunk.data(), readStream(&chunk[0], 1, size, stream));
  }
  EXPECT_TRUE(got == content);
  EXPECT_EQ(readStream(&chunk[0], 1, 1, stream), 0u);
  EXPECT_EQ(closeStream(stream), 0);
}

TEST_F(Reads, ABufferOrMoreGoesStraightToTheCaller) {
  const std::string name = path("direct.bin");
  const std::string content = patternBytes(20000);
  writeWholeFile(name, content);
  Stream* stream = openStream(name.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  std::string got(30000, '\0');
#if !defined(_WIN32)
  sim::countCalls("ReadFile");
#endif
  EXPECT_EQ(readStream(&got[0], 1, 30000, stream), 20000u);
#if !defined(_WIN32)
  EXPECT_EQ(sim::callCount("ReadFile"), 1u);
  sim::reset();
#endif
  EXPECT_TRUE(got.substr(0, 20000) == content);
  EXPECT_FALSE(stream->flags & (AtEnd | Reading));  // the direct path sets no flag
  EXPECT_EQ(closeStream(stream), 0);
}

TEST_F(Reads, PendingOutputIsWrittenBeforeADirectRead) {
  const std::string name = path("update.bin");
  const std::string content = patternBytes(20000);
  writeWholeFile(name, content);
  Stream* stream = openStream(name.c_str(), "rb+");
  ASSERT_NE(stream, nullptr);
  writeStream("AAAAAAAAAA", 1, 10, stream);
  std::string got(9000, '\0');
  EXPECT_EQ(readStream(&got[0], 1, 9000, stream), 9000u);
  EXPECT_TRUE(got == content.substr(10, 9000));
  EXPECT_EQ(closeStream(stream), 0);
  EXPECT_EQ(readWholeFile(name), "AAAAAAAAAA" + content.substr(10));
}

TEST_F(Reads, WritingAfterReadingDropsTheReadAhead) {
  const std::string name = path("then-write.txt");
  writeWholeFile(name, "0123456789");
  Stream* stream = openStream(name.c_str(), "r+");
  ASSERT_NE(stream, nullptr);
  char first = 0;
  EXPECT_EQ(readStream(&first, 1, 1, stream), 1u);
  EXPECT_EQ(first, '0');
  // The buffer fill read the whole file; the put starts where that read ended.
  writeStream("X", 1, 1, stream);
  EXPECT_FALSE(stream->flags & Reading);
  EXPECT_EQ(closeStream(stream), 0);
  EXPECT_EQ(readWholeFile(name), "0123456789X");
}

TEST_F(Reads, AWriteThatBypassesTheBufferLeavesNoStaleInput) {
  const std::string name = path("direct-write.bin");
  const std::string old = patternBytes(100);
  writeWholeFile(name, old);
  Stream* stream = openStream(name.c_str(), "r+");
  ASSERT_NE(stream, nullptr);
  char byte = 0;
  EXPECT_EQ(readStream(&byte, 1, 1, stream), 1u);
  const std::string block(9000, 'W');
  EXPECT_EQ(writeStream(block.data(), 1, 9000, stream), 9000u);
  // The fill read all 100 bytes; the next read is at the end of the file,
  // not byte 1 of the dropped read-ahead.
  EXPECT_EQ(readStream(&byte, 1, 1, stream), 0u);
  EXPECT_EQ(closeStream(stream), 0);
  EXPECT_TRUE(readWholeFile(name) == old + block);
}

}  // namespace

}  // namespace trovex
