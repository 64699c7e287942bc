// The debug channel on channels of the test's own: configuration from the
// registry, which targets receive what, the escape filter, appending, closing
// after every print (prints from many threads: the stress test). Standard error is
// redirected to a scratch file with SetStdHandle, so the same tests run
// natively and under Wine.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../fileio/scratch.h"
#include "common/texts.h"
#include "debugchannel/channel.h"
#include "platform/debug_output.h"
#include "debugchannel/device.h"
#include "listen/listen.h"
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace trovex {

namespace {

const char ChannelKey[] = "qz\\kprintf";

void deleteChannelKey() {
  RegDeleteKeyA(HKEY_CURRENT_USER, ChannelKey);
  RegDeleteKeyA(HKEY_CURRENT_USER, "qz");
}

// What the registry holds for a row: no key, or "use" and optionally
// "type" and "path" (a path of `pathBytes` bytes counting its NUL when set).
struct Config {
  bool key;
  DWORD use;
  bool hasType;
  DWORD type;
  enum { NoPath, GoodPath, MissingDirPath, PadTo1023, PadTo1024, PipePath } path;
};

struct Targets {
  std::string file, stderrText, port, firstFallback, fallback;
};

class Channel : public ScratchTest {
 protected:
  static void SetUpTestSuite() {
    // The process's channel reads the registry at its first print: let it
    // do so now, before a test writes the key.
    deleteChannelKey();
    deliverToChannel(PreparedMessage{});
  }

  void SetUp() override {
    ScratchTest::SetUp();
    missingDir = path("missing") + "/fallback.txt";
    // The first fallback's directory exists only where a row makes it.
    fallbacks[0] = firstFallbackName = path("first") + "/fallback.txt";
    fallbacks[1] = fallbackName = path("fallback.txt");
    fallbackPointers[0] = fallbacks[0].c_str();
    fallbackPointers[1] = fallbacks[1].c_str();
    portName = path("port");
    devices = ChannelDevices{portName.c_str(), fallbackPointers, 2};
    originalStderr = GetStdHandle(STD_ERROR_HANDLE);
    stderrFile = CreateFileA(path("stderr.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(stderrFile, INVALID_HANDLE_VALUE);
    SetStdHandle(STD_ERROR_HANDLE, stderrFile);
  }

  void TearDown() override {
    SetStdHandle(STD_ERROR_HANDLE, originalStderr);
    CloseHandle(stderrFile);
    deleteChannelKey();
    ScratchTest::TearDown();
  }

  void writeConfig(const Config& config) {
    deleteChannelKey();
    if (!config.key) return;
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ChannelKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "use", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&config.use), 4);
    if (config.hasType) RegSetValueExA(key, "type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&config.type), 4);
    std::string value;
    switch (config.path) {
      case Config::NoPath: break;
      case Config::GoodPath: value = path("channel.txt"); break;
      case Config::MissingDirPath: value = missingDir; break;
      // The prefix in a case of its own: Windows takes it in any case.
      case Config::PipePath: value = "\\\\.\\Pipe\\" + pipeName(); break;
      case Config::PadTo1023:
      case Config::PadTo1024:
        value = missingDir + std::string(1022 - missingDir.size(), 'x');
        if (config.path == Config::PadTo1024) value += 'x';
        break;
    }
    if (config.path != Config::NoPath)
      RegSetValueExA(key, "path", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
  }

  void print(DebugChannel* channel, const char* format, ...) {
    va_list args;
    va_start(args, format);
    channelPrint(channel, format, &args);
    va_end(args);
  }

  // A pipe of this test's own, named after its scratch folder.
  std::string pipeName() const { return "trovex-test-" + root.substr(root.find_last_of("\\/") + 1); }

  // A channel of its own on this test's pipe, and the pipe's listener (null,
  // with the reason, when the pipe cannot be served).
  std::unique_ptr<PipeListener> servePipeChannel(DebugChannel* channel, std::string* error) {
    writeConfig({true, 1, true, 2, Config::PipePath});
    std::unique_ptr<PipeListener> listener = listenOnPipe(pipeName(), error);
    initDebugChannel(channel, &devices);
    return listener;
  }

  Targets targets() {
    return Targets{readWholeFile(path("channel.txt")), readWholeFile(path("stderr.txt")), readWholeFile(portName),
                   readWholeFile(firstFallbackName), readWholeFile(fallbackName)};
  }

  std::string fallbacks[2], missingDir, firstFallbackName, fallbackName, portName;
  const char* fallbackPointers[2];
  ChannelDevices devices;
  HANDLE originalStderr, stderrFile;
};

constexpr char Message[] = "warn<ID>: retry 7\n";
const std::string Missing = "<missing>";

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
  GTEST_FLAG_SET(death_test_style, "threadsafe");
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

// What a listener receives, each connection read as the viewer reads it
// (its hello, then its lines), until `expected` bytes of lines have come or
// a writer has gone (at most a few seconds). The reading goes on across
// calls, so that a line cut between two comes whole.
struct Received {
  std::string data, program;
  std::vector<uint32_t> pids;  // of each connection
  bool gone = false;
};
class PipeReading {
 public:
  explicit PipeReading(PipeListener* listener) : listener_(listener) {}
  Received receive(size_t expected) {
    Received got;
    got_ = &got;
    std::vector<PipeEvent> events;
    std::string error;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.data.size() < expected && !got.gone && std::chrono::steady_clock::now() < end) {
      EXPECT_TRUE(listener_->wait(&events, &error)) << error;
      for (const PipeEvent& event : events) take(event);
      events.clear();
    }
    got_ = nullptr;
    return got;
  }

 private:
  void take(const PipeEvent& event) {
    if (event.kind == PipeEvent::Kind::Connected) {
      got_->program = event.program;
      got_->pids.push_back(event.pid);
      streams_[event.writer] = std::make_unique<WriterStream>(
          event.hello, [this](std::string_view name) { if (!name.empty()) got_->program.assign(name); },
          [this](std::string_view piece, bool, bool ends) { got_->data.append(piece).append(ends ? "\n" : ""); });
    } else if (event.kind == PipeEvent::Kind::Data) {
      streams_.at(event.writer)->feed(event.data);
    } else {
      streams_.at(event.writer)->finish();
      got_->gone = true;
    }
  }

  PipeListener* listener_;
  std::map<uint64_t, std::unique_ptr<WriterStream>> streams_;
  Received* got_ = nullptr;
};

uint32_t thisProcess() {
#if defined(_WIN32)
  return GetCurrentProcessId();
#else
  return uint32_t(getpid());
#endif
}

// As if a second had passed since the configured path last failed to open.
void aSecondLater(DebugChannel* channel) { channel->pathFailedTick -= PathRetryMilliseconds; }

// A pipe's reader that is not there yet, comes, goes and comes again: the
// channel writes to its fallback until the pipe opens, which it tries again
// once a second, not at every print; once a write fails (the reader has
// gone) it goes on with the same print at once, on a new reader or the
// fallback. A message longer than one write arrives whole.
TEST_F(Channel, APipesReaderMayComeGoAndComeAgain) {
  writeConfig({true, 1, true, 2, Config::PipePath});
  DebugChannel channel;
  initDebugChannel(&channel, &devices);
  auto message = [&](const std::string& body) {
    channelWriteMessage(&channel, "warn<P>: ", 9, body.data(), static_cast<unsigned>(body.size()));
  };
  std::string error;
  std::string longBody;  // a shifted or lost byte shows
  for (int i = 0; i < 5000; ++i) longBody.push_back(static_cast<char>('a' + i % 23));
  longBody.push_back('\n');
  message("before\n");
  std::unique_ptr<PipeListener> listener = listenOnPipe(pipeName(), &error);
  ASSERT_TRUE(listener) << error;
  message("within the second\n");
  aSecondLater(&channel);
  message("first\n");
  message(longBody);
  const std::string firstTwo = "warn<P>: first\nwarn<P>: " + longBody;
  const Received first = PipeReading(listener.get()).receive(firstTwo.size());
  EXPECT_TRUE(first.data == firstTwo) << first.data.size();
  EXPECT_EQ(first.program.rfind("trovex_tests", 0), 0u) << first.program;
  listener.reset();
  message("gap\n");
  listener = listenOnPipe(pipeName(), &error);
  ASSERT_TRUE(listener) << error;
  aSecondLater(&channel);
  message("again\n");
  closeDebugChannel(&channel);
  const Received again = PipeReading(listener.get()).receive(std::string::npos);
  EXPECT_EQ(again.data, "warn<P>: again\n");
  EXPECT_TRUE(again.gone) << "closed with the channel";
  EXPECT_EQ(readWholeFile(fallbackName), "warn<P>: before\nwarn<P>: within the second\nwarn<P>: gap\n");
  EXPECT_EQ(readWholeFile(path("stderr.txt")), "");
  EXPECT_FALSE(listenOnPipe("a/b\\c", &error)) << "no pipe name on either system";
}

// A reader that takes nothing: each message waits for the pipe a bounded
// while, and once one has waited in vain the next ones in that second do not
// wait at all; what the pipe could not take is counted, and the next message
// it takes is preceded by the count, so that the reader sees every message
// either whole or in the count. A message the pipe took in part leaves its
// line open: the notice starts on a line of its own.
TEST_F(Channel, AReaderThatTakesNothingCostsABoundedWaitAndTheLossIsTold) {
  DebugChannel channel;
  std::string error;
  std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
  ASSERT_TRUE(listener) << error;
  const std::string body = std::string(997, 'b') + "\n";
  unsigned sent = 0;
  while (channel.pipe.lostMessages < 3 && sent < 100000) {
    const std::string text = std::to_string(sent++) + ":" + body;
    channelWriteMessage(&channel, "warn<P>: ", 9, text.data(), static_cast<unsigned>(text.size()));
  }
  ASSERT_EQ(channel.pipe.lostMessages, 3u) << "a pipe that is never read fills up";
  EXPECT_TRUE(channel.pipe.waitedInVain);
  EXPECT_FALSE(channel.pipe.messageMayWait) << "the second and third loss waited for nothing";
  PipeReading reading(listener.get());
  const Received whileFull = reading.receive(1);  // the reader starts reading
  channel.pipe.waitedInVain = false;  // as a second later
  channelWriteMessage(&channel, "warn<P>: ", 9, "last\n", 5);
  ++sent;
  channelWriteMessage(&channel, "warn<P>: ", 9, "after\n", 6);
  ++sent;
  closeDebugChannel(&channel);
  std::string data = whileFull.data + reading.receive(std::string::npos).data;
  // Every line: a whole message in order, a notice, or the head of a lost message.
  unsigned whole = 0, told = 0, notices = 0;
  size_t at = 0;
  while (at < data.size()) {
    const size_t end = data.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "the reader's text ends with a whole line";
    const std::string line = data.substr(at, end + 1 - at);
    unsigned count = 0;
    if (std::sscanf(line.c_str(), "--- %u messages lost: the reader was busy ---\n", &count) == 1) {
      told += count;
      ++notices;
    } else if (line == "warn<P>: " + std::to_string(whole + told) + ":" + body ||
               line == "warn<P>: last\n" || line == "warn<P>: after\n") {
      ++whole;
    } else {
      EXPECT_EQ(data.find("--- ", end + 1), end + 1) << "only a lost message's head, then a notice: " << line.substr(0, 40);
    }
    at = end + 1;
  }
  // A reader that reads ahead on its own (Windows' pending read) may take
  // some between the losses: then more notices tell of them.
  EXPECT_GE(notices, 1u);
  EXPECT_GE(told, 3u);
  EXPECT_EQ(whole + told, sent);
  const std::string end = "warn<P>: last\nwarn<P>: after\n";
  EXPECT_EQ(data.substr(data.size() - end.size()), end);
}

#if !defined(_WIN32)
// A pipe that takes part of a message and then nothing (Windows' pipes may;
// natively a short write stands in) while the message may not wait: the
// message is lost with its line left open, and the notice of the loss
// starts on a line of its own, not glued to the half-written one.
TEST_F(Channel, APipeThatTakesPartOfAMessageLeavesTheNoticeALineOfItsOwn) {
  DebugChannel channel;
  std::string error;
  std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
  ASSERT_TRUE(listener) << error;
  channelWriteMessage(&channel, "warn<P>: ", 9, "first\n", 6);
  const std::string half = "warn<P>: half a line\n";
  sim::shortWrite(0, 12, 0);
  channelBeginMessage(&channel);
  channel.pipe.messageMayWait = false;  // as in the second after a vain wait
  channelPutRun(&channel, half.data(), unsigned(half.size()));
  channelEndMessage(&channel);
  sim::reset();
  EXPECT_EQ(channel.pipe.lostMessages, 1u);
  channelWriteMessage(&channel, "warn<P>: ", 9, "next\n", 5);
  closeDebugChannel(&channel);
  EXPECT_EQ(PipeReading(listener.get()).receive(std::string::npos).data,
            "warn<P>: first\nwarn<P>: hal\n--- 1 messages lost: the reader was busy ---\nwarn<P>: next\n");
}

// A pipe whose write fails part-way (its reader went away) is replaced at
// once, here by the fallback, which gets the whole message from its start,
// whether it went out in one write or in several (a header, then its body's
// pieces); one whose start is no longer at hand is counted as lost.
TEST_F(Channel, AMessageTheFailedPipeTookInPartComesWholeOnTheNextDevice) {
  const std::string longBody = std::string(5000, 'l') + "\n";
  const struct {
    const char* name;
    bool oneWrite;           // header and body joined (produced text), or printed in turn
    const std::string body;
    unsigned writesBefore;   // writes the pipe takes whole before the one that fails
    bool whole;              // the fallback gets it, else it is counted as lost
  } rows[] = {
      {"one write", true, "second message\n", 0, true},
      {"the body after its header", false, "second message\n", 1, true},
      {"a piece after the head the channel keeps", false, longBody, 5, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DeleteFileA(fallbackName.c_str());
    DebugChannel channel;
    std::string error;
    std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
    ASSERT_TRUE(listener) << error;
    channelWriteMessage(&channel, "warn<P>: ", 9, "one\n", 4);
    sim::shortWrite(row.writesBefore, 3, ERROR_NO_DATA);
    sim::failCall("CreateFileA", 0, 1, ERROR_FILE_NOT_FOUND);  // the pipe is not there when opened again
    if (row.oneWrite) {
      channelWriteMessage(&channel, "warn<P>: ", 9, row.body.data(), static_cast<unsigned>(row.body.size()));
    } else {
      channelBeginMessage(&channel);
      print(&channel, "warn<P>: ");
      print(&channel, "%s", row.body.c_str());
      channelEndMessage(&channel);
    }
    sim::reset();
    EXPECT_EQ(readWholeFile(fallbackName), row.whole ? "warn<P>: " + row.body : "");
    EXPECT_EQ(channel.pipe.lostMessages, row.whole ? 0u : 1u);
    closeDebugChannel(&channel);
    const Received got = PipeReading(listener.get()).receive(std::string::npos);
    EXPECT_EQ(got.data.rfind("warn<P>: one\nwar", 0), 0u) << "the first, then at most the head of the second";
    EXPECT_EQ(got.data.find(row.body), std::string::npos);
  }
}

// A pipe that takes a message, or the notice of lost ones, but for its final
// newline: the text has reached the reader, and the newline comes before the
// next message. When the pipe does not take that newline either, the next
// message is lost and counted; a notice counted once, never again.
TEST_F(Channel, APipeThatTakesAllButTheNewlineCountsEachMessageOnce) {
  DebugChannel channel;
  std::string error;
  std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
  ASSERT_TRUE(listener) << error;
  auto message = [&](const std::string& body) {
    channel.pipe.waitedInVain = true;  // as within the second after a vain wait: nothing waits
    channel.pipe.waitedInVainTick = GetTickCount();
    channelWriteMessage(&channel, "warn<P>: ", 9, body.data(), static_cast<unsigned>(body.size()));
  };
  sim::shortWrite(0, 9 + 3, 0);
  message("one\n");  // all but its newline
  EXPECT_EQ(channel.pipe.lostMessages, 0u);
  sim::shortWrite(0, 0, 0);
  message("two\n");  // the newline owed is not taken: lost
  EXPECT_EQ(channel.pipe.lostMessages, 1u);
  const std::string notice = "\n--- 1 messages lost: the reader was busy ---";
  sim::shortWrite(0, static_cast<DWORD>(notice.size()), 0);
  message("three\n");  // the notice but its newline: told; the message itself lost
  EXPECT_EQ(channel.pipe.lostMessages, 1u);
  message("four\n");
  sim::reset();
  closeDebugChannel(&channel);
  EXPECT_EQ(PipeReading(listener.get()).receive(std::string::npos).data,
            "warn<P>: one\n--- 1 messages lost: the reader was busy ---\n"
            "--- 1 messages lost: the reader was busy ---\nwarn<P>: four\n");
}
#endif

// Many connections that never write, opened by another thread while the
// listener reads: each is taken, and a host's message after them comes
// through whole all the same.
TEST_F(Channel, IdleConnectionsHoldUpNoHost) {
#if defined(_WIN32)
  constexpr int Idle = 200;  // Wine makes pipe instances slowly
#else
  constexpr int Idle = 1000;
#endif
  DebugChannel channel;
  std::string error;
  std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
  ASSERT_TRUE(listener) << error;
  const std::string path = "\\\\.\\pipe\\" + pipeName();
  std::vector<HANDLE> idle;
  std::thread writer([&] {
    while (idle.size() < Idle) {
      const HANDLE pipe = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (pipe != INVALID_HANDLE_VALUE) idle.push_back(pipe);
      else if (GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeA(path.c_str(), 1000);
      else break;
    }
    channelWriteMessage(&channel, "warn<P>: ", 9, "after them\n", 11);
  });
  PipeReading reading(listener.get());
  Received got;  // until the host's message has come, for a few seconds at a time
  for (int round = 0; round < 6 && got.data.empty(); ++round) {
    const Received more = reading.receive(1);
    got.data += more.data;
    got.pids.insert(got.pids.end(), more.pids.begin(), more.pids.end());
  }
  writer.join();
  EXPECT_EQ(idle.size(), size_t(Idle));
  EXPECT_EQ(got.data, "warn<P>: after them\n");
  EXPECT_EQ(got.pids.size(), size_t(Idle) + 1);
  for (HANDLE pipe : idle) CloseHandle(pipe);
  closeDebugChannel(&channel);
}

// Device 4, the debugger: each message, header and body, reaches
// OutputDebugStringA in one call, or in pieces of at most 4,000 bytes, with
// escape sequences kept out; the close-after bit changes nothing, and
// standard error gets nothing.
TEST_F(Channel, TheDebuggerGetsEachMessageInOneCallOrInPieces) {
  std::string error;
  std::unique_ptr<DebugOutputMonitor> monitor = monitorDebugOutput(&error);
  ASSERT_TRUE(monitor) << error;
  std::vector<DebugOutputText> texts;
  std::atomic<bool> done{false};
  std::thread receiver([&] {
    // A moment past the end, for what is still on its way.
    for (int after = 0; after < 3; after += done.load() ? 1 : 0) EXPECT_TRUE(monitor->wait(&texts, &error)) << error;
  });
  const std::string header = "warn<DBG>: ";
  const size_t lengths[] = {1, 3000, 9000};
  std::vector<std::string> expected;  // the calls, in order
  for (DWORD type : {4u, 0x104u}) {
    writeConfig({true, 1, true, type, Config::GoodPath});
    DebugChannel channel;
    initDebugChannel(&channel, &devices);
    for (size_t length : lengths) {
      const std::string body = "\x1b[31m" + std::string(length - 1, char('a' + length % 26)) + "\n";
      channelWriteMessage(&channel, header.data(), unsigned(header.size()), body.data(), unsigned(body.size()));
      const std::string kept = header + body.substr(5);
      for (size_t at = 0; at < kept.size(); at += DebuggerPieceSize) expected.push_back(kept.substr(at, DebuggerPieceSize));
    }
    print(&channel, "%s<%s>: ", "warn", "DBG");
    print(&channel, "printed %d\n", 2);  // two prints outside a message: two calls
    expected.push_back("warn<DBG>: ");
    expected.push_back("printed 2\n");
    closeDebugChannel(&channel);
  }
  done = true;
  receiver.join();
  std::vector<std::string> got;
  for (const DebugOutputText& text : texts)
    if (text.pid == thisProcess()) got.push_back(text.text);
  std::string sizes;
  for (const std::string& text : got) sizes += std::to_string(text.size()) + " ";
  ASSERT_EQ(got.size(), expected.size()) << sizes;
  for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == expected[i]) << "call " << i << ": " << got[i].substr(0, 40);
  EXPECT_EQ(readWholeFile(path("stderr.txt")), "");
  EXPECT_EQ(readWholeFile(path("channel.txt")), Missing);
}

#if !defined(_WIN32)
// A forked child's messages reach the reader as the child's, not its parent's.
TEST_F(Channel, AForkedChildWritesAsItself) {
  DebugChannel channel;
  std::string error;
  std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
  ASSERT_TRUE(listener) << error;
  channelWriteMessage(&channel, "warn<P>: ", 9, "parent\n", 7);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    channelWriteMessage(&channel, "warn<P>: ", 9, "child\n", 6);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  closeDebugChannel(&channel);
  const Received got = PipeReading(listener.get()).receive(31);
  EXPECT_EQ(got.data, "warn<P>: parent\nwarn<P>: child\n");
  ASSERT_EQ(got.pids.size(), 2u);
  EXPECT_EQ(got.pids[0], uint32_t(getpid()));
  EXPECT_EQ(got.pids[1], uint32_t(child));
}
#endif

}  // namespace

}  // namespace trovex
