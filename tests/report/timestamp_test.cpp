// The time stamp: its text, its result and the continuation it leaves.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "message_path.h"
#include "report/report.h"
#include "trovex.h"

#if !defined(_WIN32)
#include "platform/posix/sim.h"
#endif

namespace trovex {

namespace {

class TimeStamp : public testing::Test {
 protected:
  TestOutput out;
  OutputContext& context = out.context;
};

TEST_F(TimeStamp, TextResultAndContinuation) {
  const std::string plain(200, 'p');
  const struct {
    const char* format;
    std::string body;  // empty with checkBody false: depends on the clock
    int result;
    bool continuation;
  } rows[] = {
      {"ab%n", "ab\n", 4, true},                // ends in the letter n, not a newline
      {"", "", 0, false},                       // the emission clears a pending continuation
      {"%%d %%s%%\n", "%d %s%\n", 10, false},   // verbatim: "%" takes no argument
      {"%%", "%", 2, true},
      {plain.c_str(), plain.substr(0, 127), 200, true},  // cut to 127 characters
  };
  for (const auto& row : rows) {
    recordedCalls.clear();
    context.continuation = 1;
    EXPECT_EQ(printTimeStamp(&context, "i", "ID", row.format), row.result) << row.format;
    EXPECT_EQ(recordedText(), row.body) << row.format;
    EXPECT_EQ(context.continuation != 0, row.continuation) << row.format;
  }
}

TEST_F(TimeStamp, StampTheFilterStopsSetsNoContinuation) {
  swapCategorySwitch(&out.filter, 'w', 0);
  printTimeStamp(&context, "w", "ID", "%T");
  swapCategorySwitch(&out.filter, 'w', 1);
  EXPECT_TRUE(recordedCalls.empty());
  EXPECT_EQ(context.continuation, 0);
  printKeepOpen(&context, "w", "ID", "next\n");
  ASSERT_FALSE(recordedCalls.empty());
  EXPECT_EQ(recordedCalls[0].id, "ID") << "the next message keeps its header call";
}

TEST_F(TimeStamp, NoOtherThreadsMessageComesBetweenTextAndContinuation) {
  std::thread other([&] {
    for (int i = 0; i < 300; ++i) printKeepOpen(&context, "i", "B", "b\n");
  });
  for (int i = 0; i < 300; ++i) printTimeStamp(&context, "i", "A", "t");
  other.join();

  // Split into messages at the end calls; a message continues a line exactly
  // when the one before it was a time stamp.
  struct Message {
    bool header;
    std::string text;
  };
  std::vector<Message> messages;
  Message current{false, ""};
  bool first = true;
  for (const CallbackCall& call : recordedCalls) {
    if (call.isEnd()) {
      messages.push_back(current);
      current = Message{false, ""};
      first = true;
      continue;
    }
    if (first && (call.hasLabel || call.hasId)) current.header = true;
    first = false;
    current.text += call.data;
  }
  ASSERT_EQ(messages.size(), 600u);
  for (size_t i = 1; i < messages.size(); ++i)
    ASSERT_EQ(messages[i].header, messages[i - 1].text != "t") << i;
}

#if !defined(_WIN32)
TEST_F(TimeStamp, DefaultFormatWithAFixedClock) {
  const SYSTEMTIME tuesday = {2007, 3, 2, 27, 14, 5, 9, 0};
  sim::fixLocalTime(&tuesday);
  const struct {
    const char* format;
    std::string body;
  } rows[] = {{nullptr, "Dienstag 27-M\xE4r-2007 14:05:09"}, {"%T\n", "14:05:09\n"}};
  for (const auto& row : rows) {
    recordedCalls.clear();
    const int result = printTimeStamp(&context, nullptr, nullptr, row.format);
    EXPECT_EQ(recordedText(), row.body);
    EXPECT_EQ(result, row.format ? 3 : 14);
  }
  sim::reset();
}
#endif

}  // namespace

}  // namespace trovex
