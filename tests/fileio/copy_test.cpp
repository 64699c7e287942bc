// Copies: stream into stream in 32,000-byte steps, and files by name with
// each option of copyFile.
#include "scratch.h"

namespace trovex {

namespace {

class Copies : public ScratchTest {};

TEST_F(Copies, EmptyAndTwoFullChunks) {
  const struct {
    size_t size;
    unsigned reads, writes;  // ReadFile and WriteFile calls of the copy and the close
  } cases[] = {{0, 1, 0}, {64000, 3, 2}, {70001, 3, 3}, {100, 1, 1}};
  for (const auto& c : cases) {
    const std::string content = patternBytes(c.size);
    writeWholeFile(path("source"), content);
    Stream* source = openStream(path("source").c_str(), "rb");
    Stream* destination = openStream(path("copy").c_str(), "wb");
    ASSERT_TRUE(source && destination);
#if !defined(_WIN32)
    sim::countCalls("ReadFile");
    sim::countCalls("WriteFile");
#endif
    EXPECT_EQ(copyStream(source, destination), static_cast<int32_t>(c.size));
    EXPECT_EQ(closeStream(destination), 0);  // a last piece smaller than a buffer is written here
    EXPECT_EQ(closeStream(source), 0);
#if !defined(_WIN32)
    EXPECT_EQ(sim::callCount("ReadFile"), c.reads) << c.size;
    EXPECT_EQ(sim::callCount("WriteFile"), c.writes) << c.size;
    sim::reset();
#endif
    EXPECT_TRUE(readWholeFile(path("copy")) == content);
  }
}

TEST_F(Copies, CopyFileReplacesOrAppends) {
  const std::string source = path("source.txt");
  const std::string destination = path("destination.txt");
  writeWholeFile(source, "new");
  writeWholeFile(destination, "old ");
  EXPECT_EQ(copyFile(source.c_str(), destination.c_str(), CopyAppend), 3);
  EXPECT_EQ(readWholeFile(destination), "old new");
  EXPECT_EQ(copyFile(source.c_str(), destination.c_str(), 0), 3);
  EXPECT_EQ(readWholeFile(destination), "new");
  const std::string created = path("created.txt");
  EXPECT_EQ(copyFile(source.c_str(), created.c_str(), CopyAppend), 3);
  EXPECT_EQ(readWholeFile(created), "new");
}

TEST_F(Copies, AReadOnlyDestinationIsWrittenOnlyWhenForcedWritable) {
  const bool enforced = readOnlyIsEnforced(path("probe"));
  const std::string source = path("source.txt");
  const std::string destination = path("locked.txt");
  writeWholeFile(source, "content");
  writeWholeFile(destination, "old");
  ASSERT_EQ(setFileAttributes(destination.c_str(), AttrWritable, 0), 1);
  if (enforced) {
    EXPECT_EQ(copyFile(source.c_str(), destination.c_str(), CopyAppend), -1);
    EXPECT_EQ(errorNumber.load(), 13);
    EXPECT_EQ(readWholeFile(destination), "old");
  }
  EXPECT_EQ(copyFile(source.c_str(), destination.c_str(), CopyAppend | CopyForceWritable), 7);
  EXPECT_EQ(readWholeFile(destination), "oldcontent");
  // Made writable only where read-only kept the first open out.
  if (enforced) {
    EXPECT_TRUE(fileAttributes(destination.c_str()) & AttrWritable);
  }
}

TEST_F(Copies, TheDestinationTakesTheSourceTimeUnlessNoTime) {
  const std::string source = path("source.txt");
  writeWholeFile(source, "dated");
  const uint64_t then = 127600000000000000ull;  // a day in 2005, local time
  ASSERT_NE(setLastWriteTime(source.c_str(), then), 0);
  uint64_t time = 0;
  EXPECT_EQ(copyFile(source.c_str(), path("kept.txt").c_str(), 0), 5);
  ASSERT_EQ(lastWriteTime(path("kept.txt").c_str(), &time), 1);
  EXPECT_EQ(time, then);
  EXPECT_EQ(copyFile(source.c_str(), path("own.txt").c_str(), CopyNoTime), 5);
  ASSERT_EQ(lastWriteTime(path("own.txt").c_str(), &time), 1);
  EXPECT_GT(time, then);
}

TEST_F(Copies, SuccessfulOperationsLeaveTheErrorStateClear) {
  // A replaced file makes CreateFileA leave a last error behind even though
  // it succeeds; only failures may reach the error state.
  const std::string name = path("replaced.txt");
  writeWholeFile(name, "old");
  errorNumber = 0;
  systemError = 0;
  Stream* stream = openStream(name.c_str(), "w");
  ASSERT_NE(stream, nullptr);
  writeStream("new", 1, 3, stream);
  EXPECT_EQ(closeStream(stream), 0);
  EXPECT_EQ(copyFile(name.c_str(), path("copy.txt").c_str(), 0), 3);
  EXPECT_EQ(copyFile(name.c_str(), path("copy.txt").c_str(), CopyAppend), 3);
  uint64_t size = 0;
  EXPECT_EQ(fileSize(path("copy.txt").c_str(), &size), 1);
  EXPECT_EQ(errorNumber.load(), 0);
  EXPECT_EQ(systemError.load(), 0u);
  EXPECT_EQ(readWholeFile(path("copy.txt")), "newnew");
}

TEST_F(Copies, FailuresNameTheirCause) {
  EXPECT_EQ(copyFile(path("missing.txt").c_str(), path("to.txt").c_str(), 0), -1);
  EXPECT_EQ(errorNumber.load(), 2);
  EXPECT_EQ(GetFileAttributesA(path("to.txt").c_str()), INVALID_FILE_ATTRIBUTES);

  // A destination held open elsewhere: the open's error survives the source's close.
  writeWholeFile(path("source.txt"), "x");
  writeWholeFile(path("busy.txt"), "busy");
  HANDLE holder = CreateFileA(path("busy.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(copyFile(path("source.txt").c_str(), path("busy.txt").c_str(), 0), -1);
  EXPECT_EQ(errorNumber.load(), 203);
  EXPECT_EQ(systemError.load(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  CloseHandle(holder);
  EXPECT_EQ(readWholeFile(path("busy.txt")), "busy");
}

#if !defined(_WIN32)
class CopyFailures : public SimTest {};

TEST_F(CopyFailures, AShortOrLostWriteFailsTheCopy) {
  writeWholeFile(path("big.bin"), patternBytes(40000));
  sim::shortWrite(0, 1000, 0);
  EXPECT_EQ(copyFile(path("big.bin").c_str(), path("a.bin").c_str(), 0), -1);

  // The last bytes of a small copy are written at the destination's close.
  writeWholeFile(path("small.txt"), "small");
  sim::failCall("WriteFile", 0, 1, ERROR_DISK_FULL);
  EXPECT_EQ(copyFile(path("small.txt").c_str(), path("b.txt").c_str(), 0), -1);
  EXPECT_EQ(systemError.load(), static_cast<uint32_t>(ERROR_DISK_FULL));

  sim::failCall("HeapAlloc", 4, 1, ERROR_NOT_ENOUGH_MEMORY);  // the work area, after two streams
  EXPECT_EQ(copyFile(path("small.txt").c_str(), path("c.txt").c_str(), 0), -1);
}

TEST_F(CopyFailures, AFailedReadFailsTheCopy) {
  // 70,000 bytes take three reads of 32,000; the second one fails.
  writeWholeFile(path("long.bin"), patternBytes(70000));
  errorNumber = 0;
  sim::failCall("ReadFile", 1, 1, ERROR_INVALID_HANDLE);
  EXPECT_EQ(copyFile(path("long.bin").c_str(), path("d.bin").c_str(), 0), -1);
  EXPECT_EQ(systemError.load(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(errorNumber.load(), 201);
}
#endif

}  // namespace

}  // namespace trovex
