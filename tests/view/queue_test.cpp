// The bounded queue between the listener's reading and its output: the
// bound holds, nothing is lost without being counted at its place, and a
// consumer that stops never holds a producer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "listen/queue.h"

namespace {

using Queue = BoundedQueue<int>;

TEST(BoundedQueue, DropsWhatDoesNotFitAndSaysWhere) {
  Queue queue(10);
  EXPECT_TRUE(queue.push(1, 4));
  EXPECT_TRUE(queue.push(2, 6));  // exactly full
  EXPECT_FALSE(queue.push(3, 1));
  queue.countDropped();
  queue.pushAlways(4, 3);          // over the bound, still counted
  EXPECT_FALSE(queue.push(8, 1));
  queue.pushAlwaysBeforeDrops(9, 1);
  EXPECT_FALSE(queue.push(5, 0)) << "nothing fits while over the bound";
  std::vector<Queue::Entry> taken;
  ASSERT_TRUE(queue.take(&taken, std::chrono::milliseconds(0)));
  ASSERT_EQ(taken.size(), 5u);
  EXPECT_EQ(taken[0].dropped, 0u);
  EXPECT_EQ(*taken[1].item, 2);
  EXPECT_EQ(taken[2].dropped, 2u) << "3 and the one the producer dropped came before 4";
  EXPECT_EQ(*taken[2].item, 4);
  EXPECT_EQ(taken[3].dropped, 0u) << "9 goes before the drop of 8";
  EXPECT_EQ(*taken[3].item, 9);
  EXPECT_EQ(taken[4].dropped, 2u) << "8, and 5 that did not fit after 9";
  EXPECT_FALSE(taken[4].item.has_value());
  // Taking frees the room; a closed queue gives what is left, then false.
  taken.clear();
  EXPECT_TRUE(queue.push(6, 10));
  EXPECT_FALSE(queue.push(7, 11)) << "never fits";
  queue.close();
  ASSERT_TRUE(queue.take(&taken, std::chrono::milliseconds(0)));
  EXPECT_EQ(taken.size(), 2u);
  taken.clear();
  EXPECT_FALSE(queue.take(&taken, std::chrono::milliseconds(0)));
  EXPECT_TRUE(taken.empty());
}

// Two producers push while the consumer takes slowly: each producer ends
// without waiting, and every item is either taken, in its producer's order,
// or counted as dropped.
TEST(BoundedQueue, ProducersNeverWaitForASlowConsumer) {
  constexpr int PerProducer = 20000;
  Queue queue(1000);
  std::atomic<int> finished{0};
  auto produce = [&queue, &finished](int base) {
    for (int i = 0; i < PerProducer; ++i) {
      queue.push(base + i, 10);
      if (i % 64 == 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    ++finished;
  };
  std::thread first(produce, 0), second(produce, 1000000);
  uint64_t taken = 0, dropped = 0;
  int last[2] = {-1, 999999};
  std::vector<Queue::Entry> entries;
  bool producing = true;
  while (producing || !entries.empty()) {
    entries.clear();
    if (producing && finished == 2) {
      first.join();
      second.join();
      queue.close();
      producing = false;
    }
    if (!queue.take(&entries, std::chrono::milliseconds(5))) break;
    for (const Queue::Entry& entry : entries) {
      dropped += entry.dropped;
      if (!entry.item) continue;
      ++taken;
      int& previous = last[*entry.item >= 1000000];
      EXPECT_GT(*entry.item, previous);
      previous = *entry.item;
    }
    EXPECT_LE(entries.size(), 100u + 1) << "no more than the bound waits at once";
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  EXPECT_EQ(taken + dropped, 2u * PerProducer);
  EXPECT_GT(taken, 0u);
  EXPECT_GT(dropped, 0u);
}

}  // namespace
