// The debug channel on channels of the test's own: configuration from the
// registry, which targets receive what, the escape filter, appending, closing
// after every print (prints from many threads: the stress test), and the
// channel's contracts. What a pipe's reader and the debugger receive is
// tested with the viewer's reader of them (tests/view/channel_reading_test.cpp).
#include <filesystem>
#include <functional>
#include <string>

#include "debugchannel/channel_fixture.h"

namespace trovex {

namespace {

constexpr char Message[] = "warn<ID>: retry 7\n";

TEST_F(Channel, ConfigurationDecidesWhichTargetsReceiveTheMessage) {
  const std::string none;
  enum Present { Nothing, Port, FirstFallbackDirectory };  // made before the row
  const struct {
    const char* name;
    Config config;
    Present present;
    Targets expected;
  } rows[] = {
      {"no key", {false, 0, false, 0, Config::NoPath}, Nothing, {Missing, Message, Missing, Missing, Missing}},
      {"use 0, type 0 not read", {true, 0, true, 0, Config::GoodPath}, Port,
       {Missing, Message, none, Missing, Missing}},
      {"type 0, no port", {true, 1, true, 0, Config::NoPath}, Nothing, {Missing, none, Missing, Missing, Missing}},
      {"type 0, port", {true, 1, true, 0, Config::NoPath}, Port, {Missing, none, Message, Missing, Missing}},
      {"type 1", {true, 1, true, 1, Config::GoodPath}, Nothing, {Missing, Message, Missing, Missing, Missing}},
      {"type 2", {true, 1, true, 2, Config::GoodPath}, Nothing, {Message, none, Missing, Missing, Missing}},
      {"type 3", {true, 1, true, 3, Config::GoodPath}, Nothing, {Message, Message, Missing, Missing, Missing}},
      {"type 258", {true, 1, true, 258, Config::GoodPath}, Nothing, {Message, none, Missing, Missing, Missing}},
      {"type 2 without path", {true, 1, true, 2, Config::NoPath}, Nothing,
       {Missing, Message, Missing, Missing, Missing}},
      {"no type: stays 1", {true, 1, false, 0, Config::GoodPath}, Nothing,
       {Missing, Message, Missing, Missing, Missing}},
      {"path and first fallback in missing directories", {true, 1, true, 2, Config::MissingDirPath}, Nothing,
       {Missing, none, Missing, Missing, Message}},
      {"path in a missing directory, the first fallback opens", {true, 1, true, 2, Config::MissingDirPath},
       FirstFallbackDirectory, {Missing, none, Missing, Message, Missing}},
      {"a pipe no reader serves", {true, 1, true, 2, Config::PipePath}, Nothing,
       {Missing, none, Missing, Missing, Message}},
      {"path of 1023 bytes is read", {true, 1, true, 3, Config::PadTo1023}, Nothing,
       {Missing, Message, Missing, Missing, Message}},
      {"path of 1024 bytes is missing", {true, 1, true, 3, Config::PadTo1024}, Nothing,
       {Missing, Message, Missing, Missing, Missing}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.present == Port) writeWholeFile(portName, "");
    if (row.present == FirstFallbackDirectory) std::filesystem::create_directory(path("first"));
    writeConfig(row.config);
    // The stderr file is emptied by reopening it for the row.
    SetStdHandle(STD_ERROR_HANDLE, originalStderr);
    CloseHandle(stderrFile);
    stderrFile = CreateFileA(path("stderr.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    SetStdHandle(STD_ERROR_HANDLE, stderrFile);

    DebugChannel channel;
    initDebugChannel(&channel, &devices);
    print(&channel, "%s<%s>: ", "warn", "ID");
    print(&channel, "retry %d\n", 7);
    closeDebugChannel(&channel);

    const Targets got = targets();
    EXPECT_EQ(got.file, row.expected.file);
    EXPECT_EQ(got.stderrText, row.expected.stderrText);
    EXPECT_EQ(got.port, row.expected.port);
    EXPECT_EQ(got.firstFallback, row.expected.firstFallback);
    EXPECT_EQ(got.fallback, row.expected.fallback);
    for (const std::string& name : {path("channel.txt"), portName, firstFallbackName, fallbackName})
      DeleteFileA(name.c_str());
    std::filesystem::remove(path("first"));
  }
}

#if defined(TROVEX_CONTRACTS)
// The steps that write the channel's state rely on a message's frame around
// them, and the lock with it; the debugger's text on staying within a piece.
TEST_F(Channel, StepsOutsideTheirContractStopTheProcess) {
  // "fast": the child is this process as it stands, and makes no scratch
  // folder of its own that no tear-down would remove.
  GTEST_FLAG_SET(death_test_style, "fast");
  DebugChannel channel;
  initDebugChannel(&channel, &devices);
  const struct {
    const char* what;
    std::function<void()> run;
    const char* broken;
  } rows[] = {
      {"an end without a start", [&] { channelEndMessage(&channel); }, "messageDepth > 0"},
      {"characters outside a message", [&] { channelPutRun(&channel, "x", 1); }, "messageDepth > 0"},
      {"a message's step without the lock",
       [&] {
         channel.messageDepth = 1;
         channelPutRun(&channel, "x", 1);
       },
       "channelLockTaken"},
      {"the debugger's count past its piece",
       [&] {
         channel.debugger.count = DebuggerPieceSize + 1;
         channel.debugger.handOver();
       },
       "count <= DebuggerPieceSize"},
  };
  for (const auto& row : rows) EXPECT_DEATH(row.run(), std::string("contract broken: .*") + row.broken) << row.what;
  closeDebugChannel(&channel);
}
#endif

TEST_F(Channel, TypesFiveToFifteenWriteToStandardErrorOnly) {
  for (DWORD type = 5; type <= 15; ++type) {
    writeConfig({true, 1, true, type, Config::GoodPath});
    DebugChannel channel;
    initDebugChannel(&channel, &devices);
    print(&channel, "%d;", static_cast<int>(type));
    closeDebugChannel(&channel);
  }
  EXPECT_EQ(readWholeFile(path("stderr.txt")), "5;6;7;8;9;10;11;12;13;14;15;");
  EXPECT_EQ(readWholeFile(path("channel.txt")), Missing);
}

TEST_F(Channel, EscapeFilterKeepsItsStateAcrossPrintsAndStandardErrorSeesEverything) {
  writeConfig({true, 1, true, 3, Config::GoodPath});
  writeWholeFile(path("channel.txt"), "old\n");
  DebugChannel channel;
  initDebugChannel(&channel, &devices);
  const char* const prints[] = {"a\x1b[31mred\x1b[0m.", "x\x1b[1", "zzz", "bm!", "\n"};
  std::string raw;
  for (const char* text : prints) {
    print(&channel, "%s", text);
    raw += text;
  }
  closeDebugChannel(&channel);
  EXPECT_EQ(readWholeFile(path("channel.txt")), "old\nared.x!\n") << "appended, escapes up to 'm' dropped";
  EXPECT_EQ(readWholeFile(path("stderr.txt")), raw);
}

TEST_F(Channel, DeviceIsHeldBetweenPrintsUnlessClosedAfterEachAndClosedAtTheEnd) {
  const std::string name = path("channel.txt");
  auto canOpenForWriting = [&] {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
  };
  for (DWORD type : {2u, 0x102u}) {
    SCOPED_TRACE(type);
    writeConfig({true, 1, true, type, Config::GoodPath});
    DebugChannel channel;
    initDebugChannel(&channel, &devices);
    print(&channel, "%s<%s>: ", "warn", "ID");
    EXPECT_EQ(canOpenForWriting(), type == 0x102u);
    print(&channel, "one\n");
    // Within a message the device stays open from its header to its body,
    // so that no other host writes between the two; it closes at the end.
    channelBeginMessage(&channel);
    print(&channel, "%s<%s>: ", "warn", "ID");
    EXPECT_FALSE(canOpenForWriting()) << "held between the header and the body";
    print(&channel, "two\n");
    channelEndMessage(&channel);
    EXPECT_EQ(canOpenForWriting(), type == 0x102u);
    const char header[] = "warn<ID>: ";
    channelWriteMessage(&channel, header, sizeof header - 1, "three\n", 6);
    EXPECT_EQ(canOpenForWriting(), type == 0x102u);
    closeDebugChannel(&channel);
    EXPECT_TRUE(canOpenForWriting()) << "closing the channel releases the file";
  }
  const std::string messages = "warn<ID>: one\nwarn<ID>: two\nwarn<ID>: three\n";
  EXPECT_EQ(readWholeFile(name), messages + messages);
}

TEST_F(Channel, UnopenableFileIsReportedOnceOnStandardError) {
  devices.fallbackCount = 1;  // only the first fallback, whose directory is missing
  writeConfig({true, 1, true, 2, Config::MissingDirPath});
  DebugChannel channel;
  initDebugChannel(&channel, &devices);
  print(&channel, "first\n");
  print(&channel, "second\n");
  closeDebugChannel(&channel);
  EXPECT_EQ(readWholeFile(path("stderr.txt")), "Cannot open protocol-file\nfirst\nsecond\n");
}

// Text already produced goes to the device and standard error as a print of
// it would: escapes that straddle the 1024-character pieces are still dropped.
TEST_F(Channel, WrittenTextArrivesAsAPrintOfItWould) {
  const struct {
    size_t before;  // plain characters before the first escape sequence
    size_t after;   // plain characters after it
  } rows[] = {{0, 0}, {3, 4}, {1020, 10}, {1024, 1}, {1019, 2100}};
  std::string raw;  // everything standard error has been given
  for (const auto& row : rows) {
    writeConfig({true, 1, true, 3, Config::GoodPath});
    writeWholeFile(path("channel.txt"), "");
    const std::string text = std::string(row.before, 'a') + "\x1b[31m" + std::string(row.after, 'b') + "\x1b[0m.";
    const std::string kept = std::string(row.before, 'a') + std::string(row.after, 'b') + ".";
    DebugChannel channel;
    initDebugChannel(&channel, &devices);
    print(&channel, "%s", text.c_str());
    channelWrite(&channel, text.data(), static_cast<unsigned>(text.size()));
    closeDebugChannel(&channel);
    EXPECT_EQ(readWholeFile(path("channel.txt")), kept + kept) << row.before;
    raw += text + text;
    EXPECT_EQ(readWholeFile(path("stderr.txt")), raw) << row.before;
    DeleteFileA(path("channel.txt").c_str());
  }
}

// A header and body written together reach both targets as the two prints
// would: the escape filter's state carries from header to body, whether the
// two go out joined or as two pieces (too long to join), and whether the
// device stays open or is closed after each message (type bit 8).
TEST_F(Channel, HeaderAndBodyArriveAsTwoPrintsWould) {
  const std::string header = "warn<NET>: \x1b[3";  // an escape begun in the header ends in the body
  const struct {
    DWORD type;
    size_t bodyLength;
  } rows[] = {{3, 0}, {3, 20}, {3, 1024 - 16}, {3, 1024 - 15}, {3, 3000}, {0x103, 20}, {0x103, 1500}};
  std::string raw;
  for (const auto& row : rows) {
    writeConfig({true, 1, true, row.type, Config::GoodPath});
    writeWholeFile(path("channel.txt"), "");
    const std::string body = "1m" + std::string(row.bodyLength, 'b') + "\n";
    const std::string kept = "warn<NET>: " + std::string(row.bodyLength, 'b') + "\n";
    DebugChannel channel;
    initDebugChannel(&channel, &devices);
    print(&channel, "%s", header.c_str());
    print(&channel, "%s", body.c_str());
    channelWriteMessage(&channel, header.data(), static_cast<unsigned>(header.size()), body.data(),
                        static_cast<unsigned>(body.size()));
    closeDebugChannel(&channel);
    EXPECT_EQ(readWholeFile(path("channel.txt")), kept + kept) << row.type << " " << row.bodyLength;
    raw += header + body + header + body;
    EXPECT_EQ(readWholeFile(path("stderr.txt")), raw) << row.type << " " << row.bodyLength;
    DeleteFileA(path("channel.txt").c_str());
  }
}

#if !defined(_WIN32)
// A write that fails half-way closes the file, which opens again at once for
// the rest of the text: nothing lost, nothing twice.
TEST_F(Channel, AFileWhoseWriteFailsIsOpenedAgainForTheRest) {
  writeConfig({true, 1, true, 2, Config::GoodPath});
  DebugChannel channel;
  initDebugChannel(&channel, &devices);
  print(&channel, "one\n");
  sim::shortWrite(0, 4, ERROR_DISK_FULL);
  sim::countCalls("CreateFileA");
  print(&channel, "warn<ID>: two\n");
  EXPECT_EQ(sim::callCount("CreateFileA"), 1u);
  print(&channel, "three\n");
  closeDebugChannel(&channel);
  sim::reset();
  EXPECT_EQ(readWholeFile(path("channel.txt")), "one\nwarn<ID>: two\nthree\n");
}
#endif

}  // namespace

}  // namespace trovex
