// When buffered output reaches the file: a disk stream when a byte fills the
// buffer's last position, a block larger than the buffer at once, a console
// stream at each newline.
#include "scratch.h"

#include <atomic>
#include <thread>
#include <vector>

namespace trovex {

namespace {

class Buffering : public ScratchTest {
 protected:
  void TearDown() override {
#if !defined(_WIN32)
    sim::reset();
#endif
    ScratchTest::TearDown();
  }
};

// The buffer's size as the file sees it, written out rather than taken from
// the library, so that a changed buffer fails these tests.
constexpr uint32_t BufferBytes = 8188;

struct BlockCase {
  uint32_t held;          // bytes already in the buffer, from a write of their own
  uint32_t size;          // bytes given to one writeStream after them
  size_t inFileAtOnce;    // bytes in the file right after it
  unsigned writeCalls;    // WriteFile calls it made
};

TEST_F(Buffering, OneWriteReachesTheFileOnlyWhenItFillsOrPassesTheBuffer) {
  const BlockCase cases[] = {
      {0, 1, 0, 0}, {0, 8187, 0, 0}, {0, 8188, 8188, 1}, {0, 8189, 8189, 1}, {0, 50000, 50000, 1},
      // What the buffer holds goes first: filled up, a buffer's worth goes out
      // in one call, and the rest waits in the buffer.
      {100, 8087, 0, 0}, {100, 8088, 8188, 1}, {100, 8188, 8188, 1}, {100, 8189, 8289, 2},
      {8187, 1, 8188, 1}, {8187, 8188, 8188, 1},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.held << " + " << c.size);
    const std::string name = path("block.bin");
    const std::string data = patternBytes(c.held + c.size);
    Stream* stream = openStream(name.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(writeStream(data.data(), 1, c.held, stream), c.held);
#if !defined(_WIN32)
    sim::countCalls("WriteFile");
#endif
    EXPECT_EQ(writeStream(data.data() + c.held, 1, c.size, stream), c.size);
    EXPECT_TRUE(readWholeFile(name) == data.substr(0, c.inFileAtOnce));
#if !defined(_WIN32)
    EXPECT_EQ(sim::callCount("WriteFile"), c.writeCalls);
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

#if !defined(_WIN32)
TEST_F(Buffering, AConsoleReadFirstWritesWhatOtherConsoleStreamsHold) {
  sim::treatFilesAsCharDevices(true);  // files stand for consoles, so their bytes can be read back
  const std::string prompt = path("prompt.txt"), input = path("input.txt");
  writeWholeFile(input, "y");
  Stream* out = openStream(prompt.c_str(), "w");
  Stream* in = openStream(input.c_str(), "r");
  ASSERT_TRUE(out && in);
  writeStream("name? ", 1, 6, out);
  EXPECT_EQ(readWholeFile(prompt), "");
  char byte = 0;
  EXPECT_EQ(readStream(&byte, 1, 1, in), 1u);
  EXPECT_EQ(readWholeFile(prompt), "name? ");
  EXPECT_FALSE(out->flags & Writing);
  EXPECT_EQ(closeStream(in), 0);
  EXPECT_EQ(closeStream(out), 0);
}
#endif

// Console reads on some threads flush the console streams that other threads
// write and close at the same time; natively the consoles are files whose
// every byte is counted.
TEST_F(Buffering, ConsoleReadsFlushOtherThreadsStreamsWhileTheyWriteAndClose) {
  constexpr int Writers = 3, Readers = 2, Rounds = 200;
#if defined(_WIN32)
  const auto writerName = [](int) { return std::string(CharDevice); };
  const std::string input = CharDevice;
  const char* mode = "w";
#else
  sim::treatFilesAsCharDevices(true);
  const auto writerName = [this](int t) { return path("writer" + std::to_string(t) + ".txt"); };
  const std::string input = path("input.txt");
  writeWholeFile(input, "y");
  const char* mode = "a";
#endif
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < Writers; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < Rounds; round += 10) {
        Stream* stream = openStream(writerName(t).c_str(), mode);
        for (int i = round; stream && i < round + 10; ++i) {
          const std::string piece = std::to_string(t) + ":" + std::to_string(i) + (i % 7 == 6 ? "\n" : " ");
          failures += writeStream(piece.data(), 1, piece.size(), stream) != piece.size();
        }
        failures += !stream || closeStream(stream) != 0;
      }
    });
  for (int t = 0; t < Readers; ++t)
    threads.emplace_back([&] {
      for (int round = 0; round < Rounds; ++round) {
        Stream* stream = openStream(input.c_str(), "r");
        char byte;
        if (stream) readStream(&byte, 1, 1, stream);
        failures += !stream || closeStream(stream) != 0;
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
#if !defined(_WIN32)
  for (int t = 0; t < Writers; ++t) {
    std::string expected;
    for (int i = 0; i < Rounds; ++i) expected += std::to_string(t) + ":" + std::to_string(i) + (i % 7 == 6 ? "\n" : " ");
    EXPECT_EQ(readWholeFile(writerName(t)), expected) << t;
  }
#endif
}

}  // namespace

}  // namespace trovex
