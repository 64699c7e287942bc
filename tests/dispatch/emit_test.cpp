// Message emission: labels, header calls, chunking, line-start tracking and
// the message lock, observed through the callback destination.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "message_path.h"
#include "fileio/scratch.h"
#include "callback/callback.h"
#include "dispatch/emit.h"
#include "filter/filter.h"
#include "debugchannel/device.h"

namespace trovex {

namespace {

class Emission : public testing::Test {
 protected:
  TestOutput out;
  OutputContext& context = out.context;

  template <typename... Args>
  int emit(const char* type, const char* id, const char* format, Args... args) {
    return out.emit(type, id, format, args...);
  }
};

TEST_F(Emission, HighestCategoryLetterGivesTheLabel) {
  const struct {
    const char* letters;
    const char* label;
  } rows[] = {{"e", "error"}, {"ew", "error"}, {"we", "error"}, {"iw", "warn"},
              {"wi", "warn"}, {"i", "init"},   {"xiy", "init"}, {"wxyz", "warn"}};
  for (const auto& row : rows) {
    recordedCalls.clear();
    emit(row.letters, "ID", "x");
    ASSERT_FALSE(recordedCalls.empty());
    EXPECT_EQ(recordedCalls[0].label, row.label) << row.letters;
    EXPECT_EQ(recordedCalls[0].id, "ID");
  }
}

TEST_F(Emission, HeaderCallCarriesWhatIsPresent) {
  emit(nullptr, "ID", "body");
  ASSERT_EQ(recordedCalls.size(), 3u);
  EXPECT_FALSE(recordedCalls[0].hasLabel) << "level 0 has the empty label, passed as null";
  EXPECT_EQ(recordedCalls[0].id, "ID");

  recordedCalls.clear();
  emit("e", nullptr, "body");
  ASSERT_EQ(recordedCalls.size(), 3u);
  EXPECT_EQ(recordedCalls[0].label, "error");
  EXPECT_FALSE(recordedCalls[0].hasId);

  recordedCalls.clear();
  emit(nullptr, nullptr, "body");
  ASSERT_EQ(recordedCalls.size(), 2u) << "no header call at all";
  EXPECT_EQ(recordedCalls[0].data, "body");
  EXPECT_TRUE(recordedCalls[1].isEnd());

  recordedCalls.clear();
  emit("w", "", "body");
  ASSERT_EQ(recordedCalls.size(), 3u);
  EXPECT_FALSE(recordedCalls[0].hasId) << "an empty id counts as null";
}

TEST_F(Emission, BodyArrivesInChunksOfAtMost96Bytes) {
  const struct {
    unsigned length;
    std::vector<int> chunks;
  } rows[] = {{0, {}}, {1, {1}}, {95, {95}}, {96, {96}}, {97, {96, 1}}, {192, {96, 96}}, {193, {96, 96, 1}}};
  for (const auto& row : rows) {
    recordedCalls.clear();
    std::string text;
    for (unsigned i = 0; i < row.length; ++i) text.push_back(static_cast<char>('a' + i % 26));
    emit("i", "C", "%s", text.c_str());
    EXPECT_EQ(recordedChunkLengths(), row.chunks) << row.length;
    EXPECT_EQ(recordedText(), text);
    EXPECT_TRUE(recordedCalls.back().isEnd());
    EXPECT_EQ(recordedCalls.size(), row.chunks.size() + 2) << "header, data, end";
  }
}

TEST_F(Emission, ChunksAreCutTheSameWhereTextArrivesInRuns) {
  // Plain text, text arguments and single characters mixed across chunk borders.
  const std::string before(90, 'b'), argument(10, 'a'), after(100, 'z');
  const std::string format = before + "%s%c%S" + after;
  emit("w", "R", format.c_str(), argument.c_str(), '!', "\t");
  EXPECT_EQ(recordedText(), before + argument + "!\\t" + after);
  EXPECT_EQ(recordedChunkLengths(), (std::vector<int>{96, 96, 11}));
}

TEST_F(Emission, LineStartFollowsTheFormatNotTheText) {
  EXPECT_EQ(context.atLineStart, 0) << "the first header of a process starts a new line";
  emit("w", "ID", "Hello\n");
  EXPECT_EQ(context.atLineStart, 1);
  emit("w", "ID", "%s", "ends in a newline\n");
  EXPECT_EQ(context.atLineStart, 0) << "the format is examined, not the produced text";
  emit("w", "ID", "line\n");
  emit("w", "ID", "");
  EXPECT_EQ(context.atLineStart, 0);
  emit("w", "ID", nullptr);
  EXPECT_EQ(context.atLineStart, 0);
}

TEST_F(Emission, ContinuationSuppressesTheHeaderOnceAndIsCleared) {
  context.continuation = 1;
  emit("w", "ID", "rest of the line\n");
  ASSERT_EQ(recordedCalls.size(), 2u);
  EXPECT_EQ(recordedCalls[0].data, "rest of the line\n");
  EXPECT_EQ(context.continuation, 0);
  EXPECT_EQ(context.atLineStart, 0) << "a continued line does not count as ended";

  recordedCalls.clear();
  emit("w", "ID", "next\n");
  EXPECT_EQ(recordedCalls[0].label, "warn");
  EXPECT_EQ(context.atLineStart, 1);
}

TEST_F(Emission, StoppedMessageDeliversNothingButClearsContinuation) {
  swapCategorySwitch(&out.filter, 'w', 0);
  context.continuation = 1;
  context.atLineStart = 1;
  EXPECT_NE(emit("w", "ID", "stopped"), 0);
  EXPECT_TRUE(recordedCalls.empty());
  EXPECT_EQ(context.continuation, 0);
  EXPECT_EQ(context.atLineStart, 1) << "line-start state is left as it was";
}

TEST_F(Emission, MissingCallbackReceivesNothing) {
  context.callback = nullptr;
  EXPECT_NE(emit("w", "ID", "x"), 0);
  EXPECT_TRUE(recordedCalls.empty());
}

TEST_F(Emission, AbsentArgumentListDeliversTheFormatVerbatim) {
  emitMessage(&context, nullptr, nullptr, "50% %d done\n", nullptr, true);
  EXPECT_EQ(recordedText(), "50% %d done\n");
  EXPECT_EQ(context.atLineStart, 1);
}

TEST_F(Emission, EachDeliveryFormatsFromItsOwnCopyOfTheArguments) {
  struct Twice {
    static void run(OutputContext* context, const char* format, ...) {
      va_list args;
      va_start(args, format);
      const MessageText body{nullptr, 0, format, &args};
      deliverToCallback(context->callback, "a", "b", body);
      deliverToCallback(context->callback, "a", "b", body);
      va_end(args);
    }
  };
  Twice::run(&context, "%s-%c", "x", 'y');
  EXPECT_EQ(recordedText(), "x-yx-y");
}

// A callback that emits a message of its own while the outer one is delivered.
OutputContext* nestedContext;
void TROVEX_CALL emittingCallback(const char* label, const char* id, const char* data, int length) {
  recordCallback(label, id, data, length);
  if (data && nestedContext) {
    OutputContext* context = nestedContext;
    nestedContext = nullptr;
    context->callback = recordCallback;
    printAndClose(context, "i", "INNER", "inner %d", 0);
  }
}

TEST_F(Emission, MessageFromInsideTheCallbackIsDeliveredWithoutDeadlock) {
  nestedContext = &context;
  context.callback = emittingCallback;
  EXPECT_NE(emit("w", "OUTER", "outer"), 0);
  ASSERT_GE(recordedCalls.size(), 4u);
  EXPECT_EQ(recordedCalls[0].id, "OUTER");
  EXPECT_EQ(recordedCalls[2].id, "INNER");
}

TEST_F(Emission, ResultIsOneWhileTheLockExists) {
  EXPECT_NE(emit("w", "ID", "x"), 0);
  EXPECT_NE(printKeepOpen(&context, "w", "ID", "%s", "y"), 0);
  EXPECT_NE(printAndClose(&context, nullptr, nullptr, "z"), 0);
}

// The protocol file and the debug channel see the header as text:
// "label<id>: ", with a newline in front unless the previous message's format
// ended a line, and none on a message that continues the line.
class StreamEmission : public ScratchTest {
 protected:
  // The process's channel writes a scratch file, opened for every print.
  void SetUp() override {
    ScratchTest::SetUp();
    saved = {debugChannel.channelType, debugChannel.pathSet, debugChannel.configLoaded, debugChannel.devices};
    std::memcpy(savedPath, debugChannel.pathValue, sizeof savedPath);
    channelFile = path("channel.txt");
    fallback = path("fallback.txt");
    fallbackNames[0] = fallback.c_str();
    devices = ChannelDevices{path("port").c_str(), fallbackNames, 1};
    debugChannel.channelType = FileDevice | CloseAfterPrint;
    std::snprintf(debugChannel.pathValue, sizeof debugChannel.pathValue, "%s", channelFile.c_str());
    debugChannel.pathSet = true;
    debugChannel.configLoaded = true;
    debugChannel.devices = &devices;
  }
  void TearDown() override {
    debugChannel.channelType = saved.channelType;
    debugChannel.pathSet = saved.pathSet;
    debugChannel.configLoaded = saved.configLoaded;
    debugChannel.devices = saved.devices;
    std::memcpy(debugChannel.pathValue, savedPath, sizeof savedPath);
    ScratchTest::TearDown();
  }
  struct {
    uint32_t channelType;
    bool pathSet, configLoaded;
    const ChannelDevices* devices;
  } saved;
  char savedPath[sizeof debugChannel.pathValue];
  std::string channelFile, fallback;
  const char* fallbackNames[1];
  ChannelDevices devices;
};

TEST_F(StreamEmission, HeaderFormAndTheNewlineBeforeIt) {
  TestOutput out;
  OutputContext* context = &out.context;
  const std::string name = path("protocol.txt");
  setChannelEnabled(context, true);
  out.protocol.stream = openStream(name.c_str(), "w");
  ASSERT_NE(out.protocol.stream, nullptr);
  const struct {
    const char* type;
    const char* id;
    const char* format;
    const char* arrives;
    uint8_t continues;  // the message continues the line (after a time stamp)
  } rows[] = {
      {"w", "ID", "Hello\n", "\nwarn<ID>: Hello\n", 0},  // the first header of a process
      {"we", "ID", "open", "error<ID>: open", 0},
      {"i", "ID", " more", " more", 1},                   // continued: no header, no newline
      {"i", "A B", "x\n", "\ninit<A B>: x\n", 0},
      {"w", "ID", "rest\n", "rest\n", 1},                 // continued at a line's start
      {"w", "ID", "next\n", "\nwarn<ID>: next\n", 0},    // a continued line never counts as ended
      {nullptr, "ID", "no category\n", "no category\n", 0},  // a header needs both
      {"e", nullptr, "no id\n", "no id\n", 0},
      {"w", "", "empty id", "warn<>: empty id", 0},
      {"x", "ID", "stopped", "", 0},
  };
  std::string expected;
  for (const auto& row : rows) {
    context->continuation = row.continues;
    printKeepOpen(context, row.type, row.id, row.format);
    expected += row.arrives;
  }
  closeProtocolStream(&out.protocol);
  EXPECT_EQ(readWholeFile(name), expected);
  EXPECT_EQ(readWholeFile(channelFile), expected);
}

TEST_F(Emission, BeforeLoadAndAfterTeardownMessagesDoNothingAndReportZero) {
  OutputContext unloaded{};
  EXPECT_EQ(printAndClose(&unloaded, "w", "ID", "%s", "x"), 0);
  destroyOutputContext(&context);
  EXPECT_EQ(emit("w", "ID", "%s", (const char*)1), 0) << "no argument is read";
  EXPECT_TRUE(recordedCalls.empty());
  initOutputContext(&context, &out.filter, &out.protocol);
  setCallback(&context, recordCallback);
}

}  // namespace

}  // namespace trovex
