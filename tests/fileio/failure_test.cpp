// Failures injected at the platform seam: writes, reads, opens, seeks and
// memory. Each stream is still closed and freed, so the sanitizer build sees
// any leak. The emulation's controls exist natively only.
#include "scratch.h"

#include <functional>

#include "format/format.h"

namespace trovex {

namespace {

TEST(ErrorState, RecordSystemErrorMapsWindowsCodes) {
  const std::pair<uint32_t, int32_t> cases[] = {
      {0, 0},     {2, 2},     {3, 2},     {5, 13},    {8, 12},     {14, 12},    {19, 202},
      {32, 203},  {123, 22},  {1816, 69}, {1, 201},   {87, 201},   {112, 201},  {0xdeadbeef, 201},
  };
  for (const auto& c : cases) {
    recordSystemError(c.first);
    EXPECT_EQ(systemError.load(), c.first);
    EXPECT_EQ(errorNumber.load(), c.second) << c.first;
  }
}

#if !defined(_WIN32)

class Failure : public SimTest {};

TEST_F(Failure, AFailedFlushKeepsTheBytesAndEveryLaterOperationFails) {
  const std::string name = path("failed.txt");
  Stream* stream = openStream(name.c_str(), "w");
  ASSERT_NE(stream, nullptr);
  writeStream("hello", 1, 5, stream);
  sim::failCall("WriteFile", 0, 0, ERROR_DISK_FULL);
  EXPECT_EQ(flushStream(stream), -1);
  EXPECT_TRUE(stream->flags & Failed);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(stream->buffer), stream->cur - stream->buffer), "hello");
  EXPECT_EQ(systemError.load(), static_cast<uint32_t>(ERROR_DISK_FULL));
  sim::reset();  // the disk has room again, but the stream stays failed

  errorNumber = 0;
  EXPECT_EQ(writeStream("more", 1, 4, stream), 0u);  // room was left, yet nothing is taken
  EXPECT_EQ(errorNumber.load(), 1);
  EXPECT_EQ(writeStream(patternBytes(9000).data(), 1, 9000, stream), 0u);
  EXPECT_EQ(flushStream(stream), -1);
  char byte;
  EXPECT_EQ(readStream(&byte, 1, 1, stream), 0u);
  EXPECT_EQ(closeStream(stream), -1);
  EXPECT_EQ(readWholeFile(name), "");
  EXPECT_EQ(deleteFile(name.c_str()), 0);  // the handle was released
}

TEST_F(Failure, AFailedConsoleWriteTakesNoMoreBytesBeforeTheNextNewline) {
  Stream* stream = openStream(CharDevice, "w");
  ASSERT_NE(stream, nullptr);
  sim::failCall("WriteFile", 0, 0, ERROR_INVALID_HANDLE);
  EXPECT_EQ(writeStream("a\n", 1, 2, stream), 1u);  // the newline's write fails
  EXPECT_EQ(writeStream("bcd", 1, 3, stream), 0u);
  EXPECT_EQ(closeStream(stream), -1);
}

TEST_F(Failure, ShortWritesAreRepeatedUntilAWriteTakesNothing) {
  const std::string name = path("short.txt");
  const std::string data = patternBytes(5000);
  Stream* stream = openStream(name.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  writeStream(data.data(), 1, 5000, stream);
  sim::shortWrite(0, 1000, 0);
  sim::countCalls("WriteFile");
  EXPECT_EQ(flushStream(stream), 0);
  EXPECT_EQ(sim::callCount("WriteFile"), 2u);
  EXPECT_TRUE(readWholeFile(name) == data);

  // A write that gets part of the bytes out and then fails counts as none.
  writeStream(data.data(), 1, 5000, stream);
  sim::shortWrite(0, 1000, ERROR_DISK_FULL);
  EXPECT_EQ(flushStream(stream), -1);
  EXPECT_TRUE(stream->flags & Failed);
  EXPECT_EQ(closeStream(stream), -1);
}

TEST_F(Failure, TheDirectPathsCountAFailedCallAsNothing) {
  const std::string name = path("direct.bin");
  const std::string data = patternBytes(30000);
  Stream* stream = openStream(name.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  sim::shortWrite(0, 12000, 0);
  EXPECT_EQ(writeStream(data.data(), 1000, 30, stream), 12u);
  sim::failCall("WriteFile", 0, 1, ERROR_DISK_FULL);
  EXPECT_EQ(writeStream(data.data(), 1, 30000, stream), 0u);
  EXPECT_FALSE(stream->flags & Failed);  // only a flush marks the stream
  EXPECT_EQ(closeStream(stream), 0);

  stream = openStream(name.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  sim::failCall("ReadFile", 0, 1, ERROR_INVALID_HANDLE);
  std::string got(20000, '\0');
  EXPECT_EQ(readStream(&got[0], 1, 20000, stream), 0u);
  EXPECT_EQ(closeStream(stream), 0);
}

TEST_F(Failure, AFailedReadIsAFailureNotTheEnd) {
  const std::string name = path("unreadable.bin");
  writeWholeFile(name, patternBytes(20000));
  const struct {
    uint32_t request;  // below a buffer: a fill; a buffer or more: the direct read
    DWORD error;
    bool failure;      // the end of a pipe is the end, not a failure
  } rows[] = {{1, ERROR_INVALID_HANDLE, true}, {9000, ERROR_ACCESS_DENIED, true}, {1, ERROR_BROKEN_PIPE, false}};
  std::string got(9000, '\0');
  for (const auto& row : rows) {
    Stream* stream = openStream(name.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    errorNumber = 0;
    systemError = 0;
    sim::failCall("ReadFile", 0, 1, row.error);
    EXPECT_EQ(readStream(&got[0], 1, row.request, stream), 0u);
    EXPECT_EQ((stream->flags & ReadFailed) != 0, row.failure) << row.error;
    EXPECT_EQ(systemError.load(), row.failure ? row.error : 0u);
    // A failed stream stays failed: no later read passes the lost bytes over.
    if (row.failure) {
      EXPECT_EQ(readStream(&got[0], 1, row.request, stream), 0u);
    }
    EXPECT_EQ(closeStream(stream), 0);
  }
}

TEST_F(Failure, AFailedSizeQueryRecordsTheErrorAndClosesTheFile) {
  const std::string name = path("sized.txt");
  writeWholeFile(name, "abc");
  sim::failCall("GetFileSize", 0, 1, ERROR_ACCESS_DENIED);
  uint64_t size = 9;
  EXPECT_EQ(fileSize(name.c_str(), &size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(errorNumber.load(), 13);
  EXPECT_EQ(deleteFile(name.c_str()), 0);
}

struct OpenFailure {
  const char* call;
  unsigned skip;
  DWORD error;
  int32_t errorNumber;  // 0: the open succeeds
  unsigned times = 1;   // failing calls from the skip on; 0 every one
};

TEST_F(Failure, AFailedOpenFreesEverythingAndNamesTheCause) {
  const OpenFailure cases[] = {
      {"HeapAlloc", 0, ERROR_NOT_ENOUGH_MEMORY, 12},     // the record
      {"HeapAlloc", 1, ERROR_NOT_ENOUGH_MEMORY, 12},     // the buffer
      {"CreateFileA", 0, ERROR_ACCESS_DENIED, 13},
      {"CreateFileA", 0, ERROR_SHARING_VIOLATION, 203, 0},  // held by another for longer than the wait
      {"CreateFileA", 0, ERROR_SHARING_VIOLATION, 0, 3},    // let go within it: the open waits and succeeds
      {"CreateFileA", 0, ERROR_WRITE_PROTECT, 202},
      {"CreateFileA", 0, ERROR_INVALID_NAME, 22},
      {"SetFilePointer", 0, ERROR_INVALID_FUNCTION, 201},
  };
  const std::string name = path("open.txt");
  writeWholeFile(name, "x");
  for (const OpenFailure& c : cases) {
    sim::failCall(c.call, c.skip, c.times, c.error);
    errorNumber = 0;
    Stream* stream = openStream(name.c_str(), "a");
    EXPECT_EQ(stream != nullptr, c.errorNumber == 0) << c.call << ' ' << c.error;
    EXPECT_EQ(errorNumber.load(), c.errorNumber) << c.call << ' ' << c.error;
    if (stream) closeStream(stream);
    sim::reset();
  }
  EXPECT_EQ(deleteFile(name.c_str()), 0);  // no handle was left open on it
}
#if defined(TROVEX_CONTRACTS)
// The checked builds stop at a broken contract rather than touch memory
// outside a buffer.
TEST_F(Failure, ABrokenContractStopsTheProcess) {
  // Forked, not run afresh: a child run afresh would set up a scratch folder
  // of its own and die before removing it.
  GTEST_FLAG_SET(death_test_style, "fast");
  Stream* stream = openStream(path("contract.txt").c_str(), "w+");
  ASSERT_NE(stream, nullptr);
  char text[4];
  const struct {
    const char* what;
    std::function<void()> run;
  } rows[] = {
      {"room counted past the buffer's end",
       [&] { stream->cur = stream->buffer + stream->bufferSize, stream->writeAvail = 3, writeStream("abc", 1, 3, stream); }},
      {"input counted past the buffer's end",
       [&] { stream->cur = stream->buffer + stream->bufferSize, stream->readAvail = 1, readStream(text, 1, 1, stream); }},
      {"a fill beyond the piece array", [&] {
         ChunkCollector chunks{text, sizeof text, sizeof text + 1, nullptr, nullptr};
         FormatSink sink;
         beginChunkedRun(&sink, "x", nullptr, &chunks);
       }},
  };
  for (const auto& row : rows) EXPECT_DEATH(row.run(), "contract broken") << row.what;
  EXPECT_EQ(closeStream(stream), 0);
}
#endif

#endif

}  // namespace

}  // namespace trovex
