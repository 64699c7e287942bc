// The bounded queue between the listener's reading and each of its outputs:
// the bound holds for what waits and what the consumer holds, nothing is
// lost without being counted at its place, and a consumer that stops never
// holds a producer.
#include <gtest/gtest.h>

#include <algorithm>
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
  // The room is free once the consumer lets the taken go; a closed queue
  // gives what is left, then false.
  taken.clear();
  queue.release();
  EXPECT_TRUE(queue.push(6, 10));
  EXPECT_FALSE(queue.push(7, 11)) << "never fits";
  queue.close();
  ASSERT_TRUE(queue.take(&taken, std::chrono::milliseconds(0)));
  EXPECT_EQ(taken.size(), 2u);
  taken.clear();
  EXPECT_FALSE(queue.take(&taken, std::chrono::milliseconds(0)));
  EXPECT_TRUE(taken.empty());
}

// What the consumer took counts against the bound until it takes again or
// releases it: at the bound, one byte over, and from over the bound.
TEST(BoundedQueue, WhatTheConsumerHoldsCountsAgainstTheBound) {
  constexpr size_t Limit = 10;
  const struct {
    const char* name;
    size_t held;        // costs of what the consumer took (pushed whatever the bound)
    size_t cost;        // of the item pushed while it holds them
    bool fitsBeside;    // pushed while the consumer holds them
    bool byTake;        // they are let go by the next take, else by release()
  } rows[] = {
      {"nothing held: the whole bound", 0, Limit, true, false},
      {"held and new fill the bound exactly", 4, Limit - 4, true, true},
      {"one byte over the bound beside what is held", 4, Limit - 3, false, false},
      {"a full bound held: one byte does not fit", Limit, 1, false, true},
      {"a full bound held: nothing costs nothing", Limit, 0, true, false},
      {"over the bound held: not even nothing fits", Limit + 2, 0, false, true},
  };
  for (const auto& row : rows) {
    Queue queue(Limit);
    std::vector<Queue::Entry> taken;
    queue.pushAlways(1, row.held);
    ASSERT_TRUE(queue.take(&taken, std::chrono::milliseconds(0)));
    EXPECT_EQ(queue.usedBytes(), row.held) << row.name << ": held, counted";
    EXPECT_EQ(queue.push(2, row.cost), row.fitsBeside) << row.name;
    const size_t waiting = row.fitsBeside ? row.cost : 0;
    taken.clear();
    if (row.byTake) {
      ASSERT_TRUE(queue.take(&taken, std::chrono::milliseconds(0)));
      EXPECT_EQ(queue.usedBytes(), waiting) << row.name << ": the next take holds only its own";
      queue.release();
    } else {
      queue.release();
      EXPECT_EQ(queue.usedBytes(), waiting) << row.name << ": released, what waits is left";
      ASSERT_TRUE(queue.take(&taken, std::chrono::milliseconds(0)));
      queue.release();
    }
    EXPECT_EQ(queue.usedBytes(), 0u) << row.name;
    EXPECT_TRUE(queue.push(3, Limit)) << row.name << ": all free again";
  }
}

// Producers on three threads keep the queue full while the consumer holds
// each batch until the room left is about filled. What is pushed and not yet
// let go by the consumer, counted apart from the queue, stays within the
// bound (and the costs of pushes under way): a queue that forgot what the
// consumer holds would take a bound's worth more.
TEST(BoundedQueue, TheBoundHoldsWhileTheConsumerWorksFromSeveralThreads) {
  constexpr size_t Limit = 2000, MostCost = 50;
  constexpr int Producers = 3, Batches = 20;
  BoundedQueue<size_t> queue(Limit);  // each item is its own cost
  std::atomic<bool> producing{true};
  std::atomic<uint64_t> pushes{0};
  std::atomic<size_t> kept{0};  // costs pushed and not yet let go; a push's counts before it is tried
  std::vector<std::thread> threads;
  for (int p = 0; p < Producers; ++p)
    threads.emplace_back([&queue, &producing, &pushes, &kept, p] {
      for (int i = 0; producing; ++i, ++pushes) {
        const size_t cost = 1 + static_cast<size_t>((i * 7 + p * 13) % MostCost);
        kept += cost;
        if (!queue.push(cost, cost)) kept -= cost;
      }
    });
  std::vector<BoundedQueue<size_t>::Entry> batch;
  size_t mostKept = 0;
  uint64_t items = 0, dropped = 0;
  for (int taken = 0; queue.take(&batch, std::chrono::milliseconds(50)); ++taken) {
    size_t held = 0;
    for (const auto& entry : batch) {
      dropped += entry.dropped;
      if (!entry.item) continue;
      held += *entry.item;
      ++items;
    }
    if (taken < Batches) {
      // Works on the batch until the producers have about filled the room left.
      while (queue.usedBytes() + MostCost < Limit) std::this_thread::yield();
      mostKept = std::max(mostKept, kept.load());
    } else if (producing) {
      producing = false;
      for (std::thread& thread : threads) thread.join();
      queue.close();
    }
    kept -= held;
    batch.clear();
  }
  EXPECT_LE(mostKept, Limit + Producers * MostCost);
  EXPECT_GE(mostKept, Limit - MostCost) << "the queue was never about full while a batch was held";
  EXPECT_EQ(items + dropped, pushes.load());
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
