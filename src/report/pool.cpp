#include "report/pool.h"

#include <cstring>

#include "platform/win32.h"

namespace trovex {

namespace {

FreeArea* areaAt(Puddle* puddle, uint32_t offset) {
  return reinterpret_cast<FreeArea*>(puddle->start + offset);
}

void moveToFront(MemoryPool* pool, Puddle* puddle) {
  if (pool->first == puddle) return;
  if (puddle->previous) puddle->previous->next = puddle->next;
  if (puddle->next) puddle->next->previous = puddle->previous;
  puddle->previous = nullptr;
  puddle->next = pool->first;
  if (pool->first) pool->first->previous = puddle;
  pool->first = puddle;
}

// A puddle with one free area of dataSize bytes, not yet in the pool's list.
Puddle* newPuddle(uint32_t dataSize) {
  constexpr uint32_t header = (sizeof(Puddle) + PoolGranule - 1) / PoolGranule * PoolGranule;
  if (dataSize > 0xFFFFFFFFu - header) return nullptr;
  void* block = HeapAlloc(GetProcessHeap(), 0, header + dataSize);
  if (!block) return nullptr;
  Puddle* puddle = static_cast<Puddle*>(block);
  puddle->next = puddle->previous = nullptr;
  puddle->start = static_cast<char*>(block) + header;
  puddle->end = puddle->start + dataSize;
  puddle->firstFree = 0;
  puddle->freeBytes = dataSize;
  *areaAt(puddle, 0) = FreeArea{NoArea, dataSize};
  return puddle;
}

// Cuts `need` bytes from the end of the area that *link refers to.
void* cutBlock(MemoryPool* pool, Puddle* puddle, uint32_t* link, uint32_t need) {
  FreeArea* area = areaAt(puddle, *link);
  area->size -= need;
  char* block = reinterpret_cast<char*>(area) + area->size;
  if (area->size == 0) *link = area->next;
  puddle->freeBytes -= need;
  moveToFront(pool, puddle);
  return block;
}

}  // namespace

uint32_t* bestFreeArea(Puddle* puddle, uint32_t need) {
  uint32_t* best = nullptr;
  uint32_t bestSize = 0;
  for (uint32_t* link = &puddle->firstFree; *link != NoArea; link = &areaAt(puddle, *link)->next) {
    const uint32_t size = areaAt(puddle, *link)->size;
    if (size < need || (best && size >= bestSize)) continue;
    best = link;
    bestSize = size;
    if (bestSize <= need + BestFitSlack) break;
  }
  return best;
}

MemoryPool* createPool(uint32_t puddleSize) {
  MemoryPool* pool = static_cast<MemoryPool*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(MemoryPool)));
  if (pool) pool->puddleSize = puddleSize / PoolGranule * PoolGranule;
  return pool;
}

void* poolAlloc(MemoryPool* pool, uint32_t size, bool zeroFill) {
  if (size > 0xFFFFFFFFu - (PoolGranule - 1)) return nullptr;
  uint32_t need = (size + PoolGranule - 1) / PoolGranule * PoolGranule;
  if (need == 0) need = PoolGranule;  // every block has an address of its own

  void* block = nullptr;
  unsigned examined = 0;
  for (Puddle* puddle = pool->first; puddle && examined < PuddlesExamined && !block;
       puddle = puddle->next, ++examined) {
    if (puddle->freeBytes < need) continue;
    if (uint32_t* link = bestFreeArea(puddle, need)) block = cutBlock(pool, puddle, link, need);
  }
  if (!block) {
    Puddle* puddle = newPuddle(need > pool->puddleSize ? need : pool->puddleSize);
    if (!puddle) return nullptr;
    puddle->next = pool->first;
    if (pool->first) pool->first->previous = puddle;
    pool->first = puddle;
    block = cutBlock(pool, puddle, &puddle->firstFree, need);
  }
  if (zeroFill) std::memset(block, 0, size);
  return block;
}

void deletePool(MemoryPool* pool) {
  if (!pool) return;
  for (Puddle* puddle = pool->first; puddle;) {
    Puddle* next = puddle->next;
    HeapFree(GetProcessHeap(), 0, puddle);
    puddle = next;
  }
  HeapFree(GetProcessHeap(), 0, pool);
}

}  // namespace trovex
