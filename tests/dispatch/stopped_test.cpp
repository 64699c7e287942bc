// Messages the filter stops: which of them pass without waiting for the
// message lock, and that they leave other threads' messages whole.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "message_path.h"

namespace trovex {

namespace {

class StoppedMessages : public testing::Test {
 protected:
  TestOutput out;
  OutputContext& context = out.context;

  void SetUp() override {
    setProtocolEnabled(&context, false);
    swapCategorySwitch(&out.filter, 'w', 0);
  }
};

TEST_F(StoppedMessages, OnlyACategoryStopWithNothingPendingSkipsTheLock) {
  const struct {
    const char* name;
    const char* letters;
    const char* excluded;  // exclude list, or null
    uint8_t continuation;
    bool waits;            // needs the message lock, which another thread holds
  } rows[] = {
      {"stopped by category", "w", nullptr, 0, false},
      {"stopped by category, continuation pending", "w", nullptr, 1, true},
      {"stopped by identifier", "i", "ID", 0, true},
      {"stopped by identifier, continuation pending", "i", "ID", 1, true},
      {"passing", "i", nullptr, 0, true},
  };
  for (const auto& row : rows) {
    setExcludeIds(&out.filter, row.excluded);
    context.continuation = row.continuation;
    EnterCriticalSection(&context.lock);
    auto emitted = std::async(std::launch::async, [&] { return printKeepOpen(&context, row.letters, "ID", "x\n"); });
    const auto wait = row.waits ? std::chrono::milliseconds(50) : std::chrono::seconds(20);
    EXPECT_EQ(emitted.wait_for(wait) == std::future_status::timeout, row.waits) << row.name;
    LeaveCriticalSection(&context.lock);
    EXPECT_EQ(emitted.get(), 1) << row.name;
    EXPECT_EQ(context.continuation, 0) << row.name;
  }
}

// Threads whose "wi" messages the switches stop or pass as another thread
// flips the init switch, beside a thread whose messages always pass: every
// message that is delivered arrives whole (header, text, end call, never
// interleaved), and every passing message of the steady thread arrives.
TEST_F(StoppedMessages, ConcurrentStopsLeaveOtherMessagesWhole) {
  constexpr int Messages = 2000;
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&] {
      while (!done) printKeepOpen(&context, "wi", "STOP", "flip\n");
    });
  threads.emplace_back([&] {
    for (int32_t on = 0; !done; on ^= 1) swapCategorySwitch(&out.filter, 'i', on);
  });
  for (int i = 0; i < Messages; ++i) printKeepOpen(&context, "e", "PASS", "line %d\n", i);
  done = true;
  for (std::thread& thread : threads) thread.join();

  int passing = 0;
  ASSERT_EQ(recordedCalls.size() % 3, 0u);
  for (size_t i = 0; i < recordedCalls.size(); i += 3) {
    const CallbackCall& header = recordedCalls[i];
    ASSERT_TRUE(recordedCalls[i + 2].isEnd()) << i;
    if (header.id == "PASS") {
      EXPECT_EQ(header.label, "error");
      EXPECT_EQ(recordedCalls[i + 1].data, "line " + std::to_string(passing++) + "\n");
    } else {
      EXPECT_EQ(header.label, "warn") << "the highest letter names it, though the init switch let it pass";
      EXPECT_EQ(recordedCalls[i + 1].data, "flip\n");
    }
  }
  EXPECT_EQ(passing, Messages);
}

}  // namespace

}  // namespace trovex
