// When buffered output reaches the file: a disk stream when a byte fills the
// buffer's last position, a block larger than the buffer at once, a console
// stream at each newline.
#include "scratch.h"

namespace {

class Buffering : public ScratchTest {};

// The buffer's size as the file sees it, written out rather than taken from
// the library, so that a changed buffer fails these tests.
constexpr uint32_t BufferBytes = 8188;

struct BlockCase {
  uint32_t size;          // bytes given to one writeStream on a fresh stream
  size_t inFileAtOnce;    // bytes in the file right after it
};

TEST_F(Buffering, OneWriteReachesTheFileOnlyWhenItFillsOrPassesTheBuffer) {
  const BlockCase cases[] = {
      {1, 0}, {BufferBytes - 1, 0}, {BufferBytes, BufferBytes},
      {BufferBytes + 1, BufferBytes + 1}, {50000, 50000},
  };
  for (const BlockCase& c : cases) {
    const std::string name = path("block.bin");
    const std::string data = patternBytes(c.size);
    Stream* stream = openStream(name.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
#if !defined(_WIN32)
    sim::countCalls("WriteFile");
#endif
    EXPECT_EQ(writeStream(data.data(), 1, c.size, stream), c.size);
    EXPECT_TRUE(readWholeFile(name) == data.substr(0, c.inFileAtOnce)) << c.size;
#if !defined(_WIN32)
    EXPECT_EQ(sim::callCount("WriteFile"), c.inFileAtOnce ? 1u : 0u) << c.size;
    sim::reset();
#endif
    EXPECT_EQ(closeStream(stream), 0);
    EXPECT_TRUE(readWholeFile(name) == data);
  }
}

TEST_F(Buffering, TheBufferFillsExactlyAcrossManySmallWrites) {
  const std::string name = path("pieces.bin");
  Stream* stream = openStream(name.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  const std::string first = patternBytes(BufferBytes - 1);
  for (char byte : first) ASSERT_EQ(writeStream(&byte, 1, 1, stream), 1u);
  EXPECT_EQ(readWholeFile(name), "");
  const char last = 'L';
  writeStream(&last, 1, 1, stream);
  EXPECT_TRUE(readWholeFile(name) == first + last);
  // The next buffer starts over at its first position and holds 8188 again.
  const std::string second = patternBytes(BufferBytes);
  writeStream(second.data(), 1, BufferBytes - 1, stream);
  EXPECT_EQ(readWholeFile(name).size(), BufferBytes);
  writeStream(second.data() + BufferBytes - 1, 1, 1, stream);
  EXPECT_TRUE(readWholeFile(name) == first + last + second);
  EXPECT_EQ(closeStream(stream), 0);
}

TEST_F(Buffering, MixedWritesKeepEveryByteInOrder) {
  const std::string name = path("mixed.bin");
  const uint32_t sizes[] = {1, 7, 8187, 1, 8188, 3, 9000, 100, 8189, 0, 2, 16376, 5};
  std::string expected;
  Stream* stream = openStream(name.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  for (uint32_t size : sizes) {
    const std::string data = patternBytes(size + expected.size()).substr(expected.size());
    ASSERT_EQ(writeStream(data.data(), 1, size, stream), size);
    expected += data;
  }
  EXPECT_EQ(flushStream(stream), 0);
  EXPECT_TRUE(readWholeFile(name) == expected);
  EXPECT_EQ(closeStream(stream), 0);
  EXPECT_TRUE(readWholeFile(name) == expected);
}

TEST_F(Buffering, WholeElementsAreCountedAndSizeTimesCountWraps) {
  Stream* stream = openStream(path("elements.bin").c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(writeStream("abcdef", 3, 2, stream), 2u);
  EXPECT_EQ(writeStream("abcdef", 0, 2, stream), 0u);
  EXPECT_EQ(writeStream("abcdef", 0x10000, 0x10000, stream), 0u);  // 2^32 bytes: 0 modulo 2^32
  EXPECT_EQ(closeStream(stream), 0);
  EXPECT_EQ(readWholeFile(path("elements.bin")), "abcdef");
}

TEST_F(Buffering, DiskStreamKeepsNewlinesInTheBuffer) {
  const std::string name = path("lines.txt");
  Stream* stream = openStream(name.c_str(), "w");
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(stream->flags & LineBuffered);
  writeStream("ab\ncd\n", 1, 6, stream);
  EXPECT_EQ(readWholeFile(name), "");
  EXPECT_EQ(closeStream(stream), 0);
  EXPECT_EQ(readWholeFile(name), "ab\ncd\n");
}

TEST_F(Buffering, ConsoleStreamWritesAtEachNewline) {
  Stream* stream = openStream(CharDevice, "w");
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(stream->flags & LineBuffered);
#if !defined(_WIN32)
  sim::countCalls("WriteFile");
#endif
  EXPECT_EQ(writeStream("ab\ncd", 1, 5, stream), 5u);
  // a, b and the newline went out; c and d wait for the next newline.
  EXPECT_EQ(stream->cur - stream->buffer, 2);
#if !defined(_WIN32)
  EXPECT_EQ(sim::callCount("WriteFile"), 1u);
#endif
  EXPECT_EQ(flushStream(stream), 0);
  EXPECT_FALSE(stream->flags & Writing);
#if !defined(_WIN32)
  EXPECT_EQ(sim::callCount("WriteFile"), 2u);
  sim::reset();
#endif
  EXPECT_EQ(closeStream(stream), 0);
}

TEST_F(Buffering, ConsoleStreamWritesAFullBufferWithoutNewline) {
  Stream* stream = openStream(CharDevice, "w");
  ASSERT_NE(stream, nullptr);
  const std::string line(BufferBytes, 'x');
  writeStream(line.data(), 1, BufferBytes - 1, stream);
  EXPECT_EQ(stream->cur - stream->buffer, static_cast<ptrdiff_t>(BufferBytes - 1));
  writeStream(line.data(), 1, 1, stream);
  EXPECT_EQ(stream->cur, stream->buffer);  // written and started over
  writeStream("\n", 1, 1, stream);
  EXPECT_EQ(stream->cur, stream->buffer);
  EXPECT_EQ(closeStream(stream), 0);
}

}  // namespace
