// A small pool allocator: blocks cut from puddles taken from the process
// heap, all released at once with the pool. Single blocks are never freed.
#pragma once

#include <cstdint>

namespace trovex {

constexpr uint32_t PoolGranule = 8;        // block sizes are rounded up to this
constexpr unsigned PuddlesExamined = 11;   // puddles tried before a new one is made
constexpr uint32_t BestFitSlack = 16;      // an area this much larger than the request ends the search
constexpr uint32_t NoArea = 0xFFFFFFFFu;   // the end of a puddle's free list

// A free area inside a puddle's data area. Links are offsets from the data
// start, so the record is 8 bytes in every build and always fits a granule.
struct FreeArea {
  uint32_t next;  // offset of the next free area, or NoArea
  uint32_t size;  // bytes, a multiple of PoolGranule
};

// A puddle's header; its data area follows it in the same heap block.
struct alignas(8) Puddle {
  Puddle* next;        // the pool's list, most recently used first
  Puddle* previous;
  uint32_t firstFree;  // offset of the first free area, or NoArea
  uint32_t freeBytes;  // sum of the free areas' sizes
  char* start;         // the data area
  char* end;
};

struct MemoryPool {
  Puddle* first;        // most recently used puddle first
  uint32_t puddleSize;  // data bytes of an ordinary puddle
};

// A pool whose puddles hold puddleSize bytes (rounded down to a granule);
// null when memory runs out.
MemoryPool* createPool(uint32_t puddleSize);
// A block of `size` bytes (at least one granule), 8-aligned, zeroed with
// zeroFill; null when memory runs out.
void* poolAlloc(MemoryPool* pool, uint32_t size, bool zeroFill);
// Returns every puddle and the pool record to the process heap.
void deletePool(MemoryPool* pool);

// The link (in the puddle or in a free area) that refers to the smallest free
// area of at least `need` bytes; the search stops at the first area no larger
// than need + BestFitSlack. Null when no area is large enough.
uint32_t* bestFreeArea(Puddle* puddle, uint32_t need);

}  // namespace trovex
