// A queue between threads that is bounded in bytes: producers never wait for
// the consumer. What does not fit is dropped and counted, and the count goes
// to the consumer at the place of the loss, so that it can say how many items
// it never saw, and where. The bound covers what waits and what the consumer
// took last and still works on: memory stays within it however slow the
// consumer is.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "common/contract.h"

template <typename Item>
class BoundedQueue {
 public:
  // What take() hands over, in order: the number of items dropped just
  // before this place, then the item. Only the last entry of a take may
  // hold no item: items were dropped after every one that was taken.
  struct Entry {
    uint64_t dropped = 0;
    std::optional<Item> item;
  };

  // limitBytes: what the items waiting and those the consumer holds may cost
  // together, by the costs their producers give them.
  explicit BoundedQueue(size_t limitBytes) : limit_(limitBytes) {}

  // Adds an item that costs `bytes`. When it does not fit beside those
  // waiting and held, it is dropped and counted instead, as `counts` items
  // (one that stood for others), and false comes back.
  bool push(Item item, size_t bytes, uint64_t counts = 1) {
    std::lock_guard<std::mutex> hold(lock_);
    if (used_ > limit_ || bytes > limit_ - used_) {
      dropped_ += counts;
      return false;
    }
    add(std::move(item), bytes);
    TROVEX_ASSERT(used_ <= limit_);
    return true;
  }

  // Adds an item whatever the bound: one the consumer cannot do without (a
  // writer's arrival or departure). It still counts against the bound, so
  // the producer keeps such items few.
  void pushAlways(Item item, size_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    add(std::move(item), bytes);
  }

  // As pushAlways, for an item that belongs before the items dropped since
  // the last one added (the end of a line whose rest was dropped).
  void pushAlwaysBeforeDrops(Item item, size_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    const uint64_t dropped = dropped_;
    dropped_ = 0;
    add(std::move(item), bytes);
    dropped_ = dropped;
  }

  // Counts an item that the producer drops itself (the rest of a message
  // whose start did not fit), at the place where it would have been.
  void countDropped(uint64_t count = 1) {
    std::lock_guard<std::mutex> hold(lock_);
    dropped_ += count;
  }

  // Moves every waiting entry to the end of `out`, waiting up to `wait` for
  // the first one. False once the queue is closed and nothing is left.
  // Calling it says the consumer is done with what the last take handed over:
  // until then those items still count against the bound, so the consumer
  // takes again only once it has let them go.
  bool take(std::vector<Entry>* out, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> hold(lock_);
    releaseHeld();
    ready_.wait_for(hold, wait, [this] { return closed_ || !entries_.empty() || dropped_ > 0; });
    if (closed_ && entries_.empty() && dropped_ == 0) return false;
    for (Stored& stored : entries_) {
      out->push_back({stored.dropped, std::move(stored.item)});
      held_ += stored.bytes;
    }
    entries_.clear();
    TROVEX_ASSERT(held_ == used_);  // all that waited is handed over
    if (dropped_ > 0) out->push_back({dropped_, std::nullopt});
    dropped_ = 0;
    return true;
  }

  // The consumer is done with what the last take handed over: its room is
  // free before the next take.
  void release() {
    std::lock_guard<std::mutex> hold(lock_);
    releaseHeld();
  }

  // What the items waiting and those the consumer holds cost now.
  size_t usedBytes() {
    std::lock_guard<std::mutex> hold(lock_);
    return used_;
  }

  // No more items will come: take() returns what is left, then false.
  void close() {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    ready_.notify_all();
  }

 private:
  struct Stored {
    uint64_t dropped;  // items dropped just before this one
    Item item;
    size_t bytes;      // its cost, as its producer gave it
  };

  void releaseHeld() {
    TROVEX_ASSERT(held_ <= used_);
    used_ -= held_;
    held_ = 0;
  }

  void add(Item&& item, size_t bytes) {
    TROVEX_ASSERT(used_ + bytes >= used_);  // no cost wraps the sum around
    entries_.push_back({dropped_, std::move(item), bytes});
    dropped_ = 0;
    used_ += bytes;
    if (entries_.size() == 1) ready_.notify_one();
  }

  const size_t limit_;
  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<Stored> entries_;
  size_t used_ = 0;       // costs of the entries waiting and of those held
  size_t held_ = 0;       // costs of the entries the last take handed over
  uint64_t dropped_ = 0;  // items dropped since the last entry added or taken
  bool closed_ = false;
};
