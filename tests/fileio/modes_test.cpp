// Mode strings: which open, which fail before any file is touched, and what
// each does to the file and to other openers.
#include "scratch.h"

namespace trovex {

namespace {

class Modes : public ScratchTest {};

struct ModeCase {
  const char* mode;
  bool opens;
};

TEST_F(Modes, AcceptedAndRejectedStrings) {
  const ModeCase cases[] = {
      {"r", true},    {"rb", true},    {"rb+", true},  {"rbs+", true}, {"ws", true},  {"as+", true},
      {"w+", true},   {"a", true},     {"wbs", true},  {"r+b", false}, {"rt", false}, {"w+x", false},
      {"", false},    {"x", false},    {"b", false},   {"R", false},   {"rr", false}, {"w+ ", false},
      {"wsb", false}, {"wb+s", false}, {"a++", false},
  };
  const std::string existing = path("existing.txt");
  const std::string fresh = path("fresh.txt");
  for (const ModeCase& c : cases) {
    writeWholeFile(existing, "keep");
    errorNumber = 0;
    Stream* stream = openStream(existing.c_str(), c.mode);
    EXPECT_EQ(errorNumber.load(), c.opens ? 0 : ErrorInvalidArgument) << '"' << c.mode << '"';
    EXPECT_EQ(stream != nullptr, c.opens) << '"' << c.mode << '"';
    if (stream) {
      EXPECT_EQ(closeStream(stream), 0);
    }
    if (c.opens) continue;
    EXPECT_EQ(readWholeFile(existing), "keep") << c.mode;
    EXPECT_EQ(openStream(fresh.c_str(), c.mode), nullptr);
    EXPECT_EQ(GetFileAttributesA(fresh.c_str()), INVALID_FILE_ATTRIBUTES) << c.mode;
  }
}

TEST_F(Modes, WriteEmptiesAppendKeepsAndAddsAtTheEnd) {
  const std::string name = path("log.txt");
  writeWholeFile(name, "old ");
  Stream* append = openStream(name.c_str(), "a");
  ASSERT_NE(append, nullptr);
  writeStream("new", 1, 3, append);
  EXPECT_EQ(closeStream(append), 0);
  EXPECT_EQ(readWholeFile(name), "old new");

  Stream* write = openStream(name.c_str(), "w");
  ASSERT_NE(write, nullptr);
  EXPECT_EQ(readWholeFile(name), "");
  EXPECT_EQ(closeStream(write), 0);

  const std::string missing = path("created.txt");
  Stream* created = openStream(missing.c_str(), "a");
  ASSERT_NE(created, nullptr);
  printStream(created, "first");
  EXPECT_EQ(closeStream(created), 0);
  EXPECT_EQ(readWholeFile(missing), "first");
}

// A record reopened after a close starts as a new one, whatever the file
// before left in it, and a failed reopen leaves it to its owner.
TEST_F(Modes, AReusedRecordStartsCleanAndAppends) {
  const std::string before = path("before.txt"), log = path("log.txt");
  writeWholeFile(before, "input");
  const struct {
    const char* row;
    void (*leave)(Stream*);
  } rows[] = {
      {"input read ahead", [](Stream* s) { char c; readStream(&c, 1, 1, s); }},
      {"at the end", [](Stream* s) { char c[8]; readStream(c, 1, 8, s), readStream(c, 1, 1, s); }},
      {"output held after a failed flush", [](Stream* s) { writeStream("x", 1, 1, s), flushStream(s); }},
  };
  for (const auto& row : rows) {
    writeWholeFile(log, "old ");
    Stream* record = openStream(before.c_str(), "r");
    ASSERT_NE(record, nullptr) << row.row;
    row.leave(record);
    closeStreamFile(record);
    EXPECT_EQ(reopenStream(record, path("no-such-dir/x.txt").c_str(), "a"), nullptr) << row.row;
    ASSERT_EQ(reopenStream(record, log.c_str(), "a+"), record) << row.row;
    char c;
    EXPECT_EQ(readStream(&c, 1, 1, record), 0u) << row.row << ": at the end, nothing left from before";
    EXPECT_EQ(writeStream("new", 1, 3, record), 3u) << row.row;
    EXPECT_EQ(closeStreamFile(record), 0) << row.row;
    EXPECT_EQ(readWholeFile(log), "old new") << row.row;
    freeStreamRecord(record);
  }
}

TEST_F(Modes, ReadOfAMissingFileFailsWithErrorNumber2) {
  errorNumber = 0;
  EXPECT_EQ(openStream(path("missing.txt").c_str(), "r"), nullptr);
  EXPECT_EQ(errorNumber.load(), 2);
  EXPECT_EQ(systemError.load(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(openStream(path("no-such-dir/missing.txt").c_str(), "w"), nullptr);
  EXPECT_EQ(errorNumber.load(), 2);
  EXPECT_EQ(systemError.load(), static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Modes, AReadStreamCannotWrite) {
  const std::string name = path("input.txt");
  writeWholeFile(name, "data");
  Stream* stream = openStream(name.c_str(), "r");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(writeStream("x", 1, 1, stream), 1u);  // buffered
  EXPECT_EQ(flushStream(stream), -1);
  EXPECT_TRUE(stream->flags & Failed);
  EXPECT_EQ(closeStream(stream), -1);
  EXPECT_EQ(readWholeFile(name), "data");
}

struct ShareCase {
  const char* mode;
  bool othersMayWrite;
};

TEST_F(Modes, OthersMayReadAnOpenFileButWriteItOnlyWithS) {
  const ShareCase cases[] = {{"r", false}, {"w", false}, {"a+", false}, {"rs", true}, {"ws+", true}};
  const std::string name = path("shared.txt");
  for (const ShareCase& c : cases) {
    writeWholeFile(name, "x");
    Stream* stream = openStream(name.c_str(), c.mode);
    ASSERT_NE(stream, nullptr) << c.mode;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE reader = CreateFileA(name.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE) << c.mode;
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    SetLastError(0xdeadbeef);
    HANDLE writer = CreateFileA(name.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer != INVALID_HANDLE_VALUE, c.othersMayWrite) << c.mode;
    if (writer != INVALID_HANDLE_VALUE)
      CloseHandle(writer);
    else
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << c.mode;
    EXPECT_EQ(closeStream(stream), 0);
  }
}

}  // namespace

}  // namespace trovex
