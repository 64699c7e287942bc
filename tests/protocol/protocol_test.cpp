// The protocol file through its context: where a new name goes, appending,
// keep-open, read-back, copy, unload, and the settled name. Each test works
// on a context of its own inside a scratch directory that is also the
// current and the temporary directory.
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "message_path.h"
#include "fileio/scratch.h"
#include "platform/paths.h"
#include "protocol/protocol.h"

namespace trovex {

namespace {

namespace fs = std::filesystem;

class Protocol : public ScratchTest {
 protected:
  std::unique_ptr<TestOutput> out;
  OutputContext* context = nullptr;
  ProtocolFile* file = nullptr;
  fs::path savedDirectory;
  std::string savedTemp;

  void SetUp() override {
    ScratchTest::SetUp();
    savedDirectory = fs::current_path();
    fs::create_directory(path("cwd"));
    fs::create_directory(path("tmp"));
    fs::current_path(path("cwd"));
    const char* temp = std::getenv(TempVariable);
    savedTemp = temp ? temp : "";
    setTempDirectory(path("tmp"));
    load();
  }
  void TearDown() override {
    out.reset();
    fs::current_path(savedDirectory);
    setTempDirectory(savedTemp);
#if !defined(_WIN32)
    sim::reset();
#endif
    ScratchTest::TearDown();
  }
#if defined(_WIN32)
  static constexpr const char* TempVariable = "TMP";
#else
  static constexpr const char* TempVariable = "TMPDIR";
#endif

  void setTempDirectory(const std::string& directory) {
#if defined(_WIN32)
    _putenv_s(TempVariable, directory.c_str());  // "" removes it
#else
    if (directory.empty()) unsetenv(TempVariable);
    else setenv(TempVariable, directory.c_str(), 1);
#endif
  }
  // A load of the library: a context of its own, its protocol file unnamed.
  void load() {
    out.reset();
    out = std::make_unique<TestOutput>();
    context = &out->context;
    file = &out->protocol;
  }
  std::string inCwd(const std::string& name) const { return path("cwd") + PathSeparator + name; }
  std::string inTemp(const std::string& name) const { return path("tmp") + PathSeparator + name; }
  void message(const char* text, bool keepOpen = false, const char* type = "w") {
    // The text is the format, so its final newline ends the line.
    if (keepOpen) printKeepOpen(context, type, "P", text);
    else printAndClose(context, type, "P", text);
  }
  std::string readBack(int force = 0) {
    char buffer[FileNameSize];
    return readFileName(file, buffer, sizeof buffer, force) ? buffer : "<none>";
  }
};

TEST_F(Protocol, NoNameNoFile) {
  message("x\n");
  EXPECT_EQ(readBack(), "");
  EXPECT_TRUE(fs::is_empty(path("cwd")));
}

TEST_F(Protocol, ANewNameStartsWithTheModeThenAppendsAtItsFullPath) {
  setFileName(file, "proto.txt");
  message("one\n");
  EXPECT_EQ(readBack(), inCwd("proto.txt")) << "the name becomes the full path";
  message("two\n");
  EXPECT_EQ(readWholeFile(inCwd("proto.txt")), "\nwarn<P>: one\nwarn<P>: two\n");
  setOpenMode(file, "w");  // settles the location again: the file restarts
  message("three\n");
  EXPECT_EQ(readWholeFile(inCwd("proto.txt")), "warn<P>: three\n");
  EXPECT_EQ(readBack(), inCwd("proto.txt"));
}

TEST_F(Protocol, AnAbsoluteNameIsTakenAsItStands) {
  const std::string name = path("elsewhere.log");
  writeWholeFile(name, "kept ");
  setOpenMode(file, "a");
  setFileName(file, name.c_str());
  message("more\n");
  EXPECT_EQ(readWholeFile(name), "kept \nwarn<P>: more\n");
  EXPECT_EQ(readBack(), name);
}

TEST_F(Protocol, KeepOpenHoldsTheStreamAcrossMessagesAndSettingChanges) {
  const std::string first = inCwd("first.txt"), second = inCwd("second.txt");
  setFileName(file, "first.txt");
  message("a", true);
  Stream* held = file->stream;
  ASSERT_NE(held, nullptr);
  message("b", true);
  EXPECT_EQ(file->stream, held) << "opened once";
  setFileName(file, "second.txt");  // takes effect once the held stream closes
  setProtocolEnabled(context, false);
  message("not in the file");
  EXPECT_EQ(file->stream, held) << "neither written nor closed while switched off";
  setProtocolEnabled(context, true);
  message("c");
  EXPECT_EQ(file->stream, nullptr);
  message("d\n");
  EXPECT_EQ(readWholeFile(first), "\nwarn<P>: a\nwarn<P>: b\nwarn<P>: c");
  EXPECT_EQ(readWholeFile(second), "\nwarn<P>: d\n");
}

TEST_F(Protocol, AHeldFileRefusesOtherWriters) {
  setFileName(file, "shared.txt");
  message("x", true);
  HANDLE writer = CreateFileA(inCwd("shared.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

// A message that finds its file held by another program past the wait for
// it is counted, and the count is told before the next message the file
// takes, on a line of its own.
TEST_F(Protocol, MessagesThatFindTheFileHeldAreCountedBeforeTheNext) {
  setFileName(file, "held.txt");
  message("one\n");
  HANDLE holder = CreateFileA(inCwd("held.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  message("two\n");
  message("three\n");
  CloseHandle(holder);
  message("four\n");
  message("five\n");
  EXPECT_EQ(readWholeFile(inCwd("held.txt")),
            "\nwarn<P>: one\n--- 2 messages lost: the protocol file could not be opened ---\nwarn<P>: four\n"
            "warn<P>: five\n");
}

TEST_F(Protocol, TheSizeCheckRunsOnceAtTheFirstReopen) {
  const std::string name = path("capped.log");
  std::string big(5000000, 'x');
  big[3000000] = '\f';
  writeWholeFile(name, big);
  setOpenMode(file, "a");
  setFileName(file, name.c_str());
  message("first\n");  // the first open of the name: no check
  EXPECT_EQ(readWholeFile(name).size(), big.size() + 16);
  message("second\n");  // the first reopen: cut at the form feed
  const std::string cut = readWholeFile(name);
  EXPECT_EQ(cut.compare(0, 15, "--- Trunced at "), 0);
  EXPECT_EQ(cut.substr(cut.size() - 32), "\nwarn<P>: first\nwarn<P>: second\n");
  writeWholeFile(name, big);
  message("third\n");  // never again in this load
  EXPECT_EQ(readWholeFile(name).size(), big.size() + 15);
}

TEST_F(Protocol, AKeepOpenErrorReachesTheFileAtOnce) {
  const struct {
    const char* type;
    bool inFileBeforeClose;
  } rows[] = {{"e", true}, {"ew", true}, {"w", false}, {"i", false}};
  for (const auto& row : rows) {
    const std::string name = inCwd(std::string("held-") + row.type + ".txt");
    setFileName(file, name.c_str());
    message("text\n", true, row.type);
    EXPECT_EQ(readWholeFile(name).empty(), !row.inFileBeforeClose) << row.type;
    closeProtocolStream(file);
  }
}

TEST_F(Protocol, ReadBackWithForceSettlesTheNameFirst) {
  setFileName(file, "forced.txt");
  EXPECT_EQ(readBack(0), "forced.txt");
  EXPECT_EQ(readWholeFile(inCwd("forced.txt")), "<missing>");
  EXPECT_EQ(readBack(1), inCwd("forced.txt"));
  EXPECT_EQ(readWholeFile(inCwd("forced.txt")), "") << "created with the default mode";

  // A name set while a stream is held is the one read back, not the held one's.
  message("x", true);
  setFileName(file, "renamed.txt");
  EXPECT_EQ(readBack(1), inCwd("renamed.txt"));
  EXPECT_EQ(readWholeFile(inCwd("forced.txt")), "\nwarn<P>: x") << "the held stream was flushed";

  const std::string full = inCwd("renamed.txt");
  char buffer[FileNameSize];
  EXPECT_EQ(readFileName(file, buffer, static_cast<int>(full.size()), 0), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(readFileName(file, buffer, static_cast<int>(full.size()) + 1, 0), 1);
  EXPECT_EQ(buffer, full);
}

TEST_F(Protocol, CopyReplacesOrAppendsAndFlushesAHeldStream) {
  setFileName(file, "source.txt");
  message("held", true);  // shares reading only while held: the copy closes it first
  const std::string target = path("copy.txt");
  writeWholeFile(target, "old ");
  EXPECT_EQ(copyProtocolFile(file, target.c_str(), 1), 1);
  EXPECT_EQ(readWholeFile(target), "old \nwarn<P>: held");
  EXPECT_EQ(copyProtocolFile(file, target.c_str(), 0), 1);
  EXPECT_EQ(readWholeFile(target), "\nwarn<P>: held");
  message(" more\n", true);  // reopened for appending
  EXPECT_EQ(copyProtocolFile(file, target.c_str(), 0), 1);
  EXPECT_EQ(readWholeFile(target), "\nwarn<P>: held\nwarn<P>:  more\n");

  // Its own name in other letters is the same file on Windows, so nothing is
  // copied; on POSIX it is another file, which the copy makes.
  const std::string ownName = inCwd("SOURCE.TXT");
  EXPECT_EQ(copyProtocolFile(file, ownName.c_str(), 0), 1);
  EXPECT_EQ(readWholeFile(ownName), "\nwarn<P>: held\nwarn<P>:  more\n");
  const auto files = std::distance(fs::directory_iterator(path("cwd")), fs::directory_iterator());
  EXPECT_EQ(files, NamesIgnoreCase ? 1 : 2);
  EXPECT_EQ(copyProtocolFile(file, nullptr, 0), 0);
  EXPECT_EQ(copyProtocolFile(file, path("missing/dir.txt").c_str(), 0), 0);
  setFileName(file, nullptr);
  EXPECT_EQ(copyProtocolFile(file, target.c_str(), 0), 0);
}

TEST_F(Protocol, AppendingCopyMakesAReadOnlyDestinationWritable) {
  setFileName(file, "source.txt");
  message("x\n");
  const std::string target = path("readonly.txt");
  writeWholeFile(target, "r ");
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(copyProtocolFile(file, target.c_str(), 1), 1);
  EXPECT_EQ(readWholeFile(target), "r \nwarn<P>: x\n");
}

// The host's callback emits a message while the outer message is delivered.
// The inner message closes (or keeps open) what it opened itself, and never
// the stream the outer message still writes.
struct Nested {
  ProtocolFile* file;
  OutputContext* context;
  const char* name;  // set as the file name before the inner message; null: none
  bool keepOpen;
};
Nested* nested;
void TROVEX_CALL emitInside(const char*, const char*, const char* data, int) {
  if (!data || !nested) return;
  Nested* inner = nested;
  nested = nullptr;
  if (inner->name) setFileName(inner->file, inner->name);
  (inner->keepOpen ? printKeepOpen : printAndClose)(inner->context, "w", "IN", "inner\n");
}

TEST_F(Protocol, AMessageFromTheCallbackClosesOnlyWhatItOpened) {
  const struct {
    const char* row;
    const char* outerName;  // the file name before the outer message; null: none
    bool innerKeepsOpen;
    bool outerKeepsOpen;
    const char* file;       // the file afterwards, each message closed or kept
    bool heldAfter;
  } rows[] = {
      {"outer without a stream, inner opens and closes", nullptr, false, false, "\nwarn<IN>: inner\n", false},
      {"outer without a stream, inner keeps open", nullptr, true, false, "", true},
      {"inner writes the outer's stream, the outer closes it", "outer.txt", false, false,
       "\nwarn<IN>: inner\n\nwarn<OUT>: outer\n", false},  // the outer's header was decided before
      {"the outer keeps its stream open after the inner", "outer.txt", false, true, "", true},
  };
  for (const auto& row : rows) {
    load();
    setCallback(context, emitInside);
    if (row.outerName) setFileName(file, row.outerName);
    Nested inner{file, context, row.outerName ? nullptr : "outer.txt", row.innerKeepsOpen};
    nested = &inner;
    (row.outerKeepsOpen ? printKeepOpen : printAndClose)(context, "w", "OUT", "outer\n");
    EXPECT_EQ(file->stream != nullptr, row.heldAfter) << row.row;
    EXPECT_EQ(readWholeFile(inCwd("outer.txt")), row.file) << row.row << ": written at once or held";
    closeProtocolStream(file);
    fs::remove(inCwd("outer.txt"));
  }
}

TEST_F(Protocol, DestroyingTheContextFlushesAHeldStream) {
  setFileName(file, "unload.txt");
  message("buffered\n", true);
  EXPECT_EQ(readWholeFile(inCwd("unload.txt")), "");
  destroyOutputContext(context);
  EXPECT_EQ(readWholeFile(inCwd("unload.txt")), "\nwarn<P>: buffered\n");
}

#if !defined(_WIN32)
// Where a new name goes: the current directory when its attributes read
// fine and say writable, else the temporary directory, which also takes the
// retry after a failed first open. There, with a mode that empties the file
// an older one is deleted first, and with one that appends, or one the
// stream layer refuses, it is kept.
TEST_F(Protocol, TheTemporaryDirectoryTakesTheFileAndDeletesOnlyWhatTheModeWouldEmpty) {
  enum Cwd { Unreadable, ReadOnly, Writable };  // the current directory's attributes
  const struct {
    const char* mode;
    Cwd cwd;
    unsigned failedOpens;  // CreateFileA failures before the first success
    const char* inTemp;    // the file in the temporary directory afterwards
    const char* inCwd;     // the file in the current directory afterwards
  } rows[] = {
      {"w", Unreadable, 0, "\nwarn<P>: new\n", "<missing>"},
      {"a", Unreadable, 0, "older\nwarn<P>: new\n", "<missing>"},
      {"w", Unreadable, 1, "\nwarn<P>: new\n", "<missing>"},
      {"a", Unreadable, 1, "older\nwarn<P>: new\n", "<missing>"},
      {"ab+", Unreadable, 1, "older\nwarn<P>: new\n", "<missing>"},
      {"wt", Unreadable, 0, "older", "<missing>"},
      {"w", ReadOnly, 0, "\nwarn<P>: new\n", "<missing>"},
      {"w", Writable, 0, "older", "\nwarn<P>: new\n"},
      {"w", Writable, 1, "\nwarn<P>: new\n", "<missing>"},  // the retry goes to the temporary directory
      {"a", Writable, 1, "older\nwarn<P>: new\n", "<missing>"},
  };
  for (const auto& row : rows) {
    const std::string name = inTemp("tmp.log");
    writeWholeFile(name, "older");
    load();
    setOpenMode(file, row.mode);
    setFileName(file, "tmp.log");
    if (row.cwd == Unreadable) sim::failCall("GetFileAttributesA", 0, 0, ERROR_ACCESS_DENIED);
    // Without its write permission the emulation reports the directory read-only.
    if (row.cwd == ReadOnly) fs::permissions(path("cwd"), fs::perms::owner_write, fs::perm_options::remove);
    if (row.failedOpens) sim::failCall("CreateFileA", 0, row.failedOpens, ERROR_ACCESS_DENIED);
    message("new\n");
    sim::reset();
    fs::permissions(path("cwd"), fs::perms::owner_write, fs::perm_options::add);
    const std::string where = std::string(row.mode) + " " + std::to_string(row.cwd) + " " + std::to_string(row.failedOpens);
    EXPECT_EQ(readWholeFile(name), row.inTemp) << where;
    EXPECT_EQ(readWholeFile(inCwd("tmp.log")), row.inCwd) << where;
    fs::remove(inCwd("tmp.log"));
  }
}

TEST_F(Protocol, AHeldStreamWhoseWriteFailedIsReplacedByTheNextMessage) {
  setFileName(file, "held.txt");
  message("first\n");
  sim::failCall("WriteFile", 0, 1, ERROR_DISK_FULL);
  message("lost\n", true, "e");  // its flush fails
  message("kept\n", true);
  message("closed\n");
  EXPECT_EQ(readWholeFile(inCwd("held.txt")), "\nwarn<P>: first\nwarn<P>: kept\nwarn<P>: closed\n");
}

TEST_F(Protocol, EveryOpenFailingLeavesTheNameUnsettledAndTriesAgain) {
  setFileName(file, "retry.txt");
  sim::failCall("CreateFileA", 0, 3, ERROR_ACCESS_DENIED);  // both attempts and the name as given
  message("lost\n");
  EXPECT_EQ(readBack(), "retry.txt");
  message("kept\n");
  EXPECT_EQ(readWholeFile(inCwd("retry.txt")), "warn<P>: kept\n") << "the lost message still ended its line";
}
#endif

}  // namespace

}  // namespace trovex
