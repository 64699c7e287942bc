// The memory pool: where blocks are cut from, when puddles are made.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "report/pool.h"

namespace trovex {

namespace {

unsigned puddleCount(const MemoryPool* pool) {
  unsigned count = 0;
  for (const Puddle* puddle = pool->first; puddle; puddle = puddle->next) ++count;
  return count;
}

bool inPuddle(const Puddle* puddle, const void* block, uint32_t size) {
  const char* p = static_cast<const char*>(block);
  return p >= puddle->start && p + size <= puddle->end;
}

TEST(MemoryPool, BlocksAreCutFromTheEndOfTheFirstPuddleThatServes) {
  MemoryPool* pool = createPool(1000);  // rounded down to 1000 - 1000 % 8 = 1000
  ASSERT_NE(pool, nullptr);
  char* a = static_cast<char*>(poolAlloc(pool, 1, false));
  char* b = static_cast<char*>(poolAlloc(pool, 13, false));
  ASSERT_EQ(puddleCount(pool), 1u);
  EXPECT_EQ(a, pool->first->end - 8) << "rounded up to 8, cut from the end";
  EXPECT_EQ(b, a - 16);
  EXPECT_EQ(pool->first->freeBytes, 1000u - 24);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 8, 0u);

  // Larger than a puddle: a puddle of its own, at the front.
  void* big = poolAlloc(pool, 5000, false);
  ASSERT_EQ(puddleCount(pool), 2u);
  EXPECT_TRUE(inPuddle(pool->first, big, 5000));
  EXPECT_EQ(pool->first->freeBytes, 0u);
  // The full puddle is passed over; the first one serves and moves to the front.
  void* c = poolAlloc(pool, 8, false);
  EXPECT_EQ(c, b - 8);
  EXPECT_EQ(pool->first->freeBytes, 1000u - 32);
  // A request that just fits uses the area up.
  void* rest = poolAlloc(pool, 1000 - 32, false);
  EXPECT_EQ(rest, pool->first->start);
  EXPECT_EQ(pool->first->firstFree, NoArea);
  EXPECT_EQ(puddleCount(pool), 2u);
  deletePool(pool);
}

TEST(MemoryPool, OnlyElevenPuddlesAreExamined) {
  for (unsigned fullPuddles : {10u, 11u}) {
    MemoryPool* pool = createPool(64);
    poolAlloc(pool, 40, false);  // 24 bytes stay free in the first puddle
    for (unsigned i = 0; i < fullPuddles; ++i) poolAlloc(pool, 64, false);
    ASSERT_EQ(puddleCount(pool), fullPuddles + 1);
    poolAlloc(pool, 24, false);
    // Behind ten full puddles the free bytes are found; behind eleven they are not.
    EXPECT_EQ(puddleCount(pool), fullPuddles == 10 ? 11u : 13u) << fullPuddles;
    deletePool(pool);
  }
}

TEST(MemoryPool, ZeroFillClearsTheRequestedBytes) {
  // Leave a pattern in heap memory of a puddle's size, so the next puddle
  // of that size is likely to reuse it (under ASan it is filled anyway).
  MemoryPool* pool = createPool(256);
  std::memset(poolAlloc(pool, 256, false), 0xAB, 256);
  deletePool(pool);
  pool = createPool(256);
  unsigned char* clean = static_cast<unsigned char*>(poolAlloc(pool, 100, true));
  for (unsigned i = 0; i < 100; ++i) ASSERT_EQ(clean[i], 0) << i;
  EXPECT_EQ(poolAlloc(pool, 0xFFFFFFFFu, false), nullptr) << "a size that cannot be rounded";
  deletePool(pool);
}

// A puddle over the test's own data area with free areas of the given sizes,
// in list order, laid out one after another.
struct HandMadePuddle {
  alignas(8) char data[1024];
  Puddle puddle{};

  explicit HandMadePuddle(std::vector<uint32_t> sizes) {
    puddle.start = data;
    puddle.end = data + sizeof data;
    uint32_t* link = &puddle.firstFree;
    uint32_t offset = 0;
    for (uint32_t size : sizes) {
      *link = offset;
      FreeArea* area = reinterpret_cast<FreeArea*>(data + offset);
      *area = FreeArea{NoArea, size};
      link = &area->next;
      offset += size;
    }
    *link = NoArea;
  }
  uint32_t sizeAt(const uint32_t* link) const { return reinterpret_cast<const FreeArea*>(data + *link)->size; }
};

TEST(MemoryPool, BestFitStopsAtAnAreaCloseEnough) {
  const struct {
    std::vector<uint32_t> sizes;
    uint32_t need;
    uint32_t chosen;  // 0: none
  } rows[] = {
      {{64, 40, 48}, 40, 40},          // exact
      {{128, 96, 72}, 40, 72},         // the smallest that fits
      {{56, 48, 40}, 40, 56},          // 56 <= 40 + 16: the search ends before the better 40
      {{64, 48, 40}, 40, 48},          // 64 is too loose, 48 is close enough
      {{16, 24, 32}, 40, 0},           // nothing fits
      {{}, 8, 0},
  };
  for (const auto& row : rows) {
    HandMadePuddle made(row.sizes);
    const uint32_t* link = bestFreeArea(&made.puddle, row.need);
    if (row.chosen == 0) {
      EXPECT_EQ(link, nullptr);
    } else {
      ASSERT_NE(link, nullptr);
      EXPECT_EQ(made.sizeAt(link), row.chosen) << row.need;
    }
  }
}

}  // namespace

}  // namespace trovex
