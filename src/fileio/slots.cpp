// The handle-slot table. Slots are claimed and freed with atomic operations
// rather than under a lock: a file opened and closed per message would
// otherwise take a lock three times for its slot.
#include "fileio/slots.h"

#include <atomic>

namespace trovex {

namespace {

std::atomic<HANDLE> handleSlots[SlotCount];  // null: free

// A named slot taken while its file is being opened, so that no lock is held
// across CreateFileA. CreateFileA's own failure value is never stored, so it
// cannot be mistaken for a handle.
const HANDLE ReservedSlot = INVALID_HANDLE_VALUE;

}  // namespace

HANDLE slotHandle(int slot) {
  return slot >= 0 && slot < SlotCount ? handleSlots[slot].load(std::memory_order_acquire) : nullptr;
}

void setStandardSlots(HANDLE input, HANDLE output, HANDLE error) {
  handleSlots[0].store(input, std::memory_order_release);
  handleSlots[1].store(output, std::memory_order_release);
  handleSlots[2].store(error, std::memory_order_release);
}

int openSlot(const char* name, const SlotOpen& open) {
  int slot = -1;
  for (int i = StandardSlots; i < SlotCount && slot < 0; ++i) {
    HANDLE unclaimed = nullptr;
    if (!handleSlots[i].load(std::memory_order_relaxed) &&
        handleSlots[i].compare_exchange_strong(unclaimed, ReservedSlot, std::memory_order_acquire, std::memory_order_relaxed))
      slot = i;
  }
  if (slot < 0) {
    errorNumber = ErrorNoMemory;
    return -1;
  }
  HANDLE handle = createFileWaitingForShare(name, open.access, open.shareMode, open.disposition, open.attributes);
  if (handle == INVALID_HANDLE_VALUE) handle = nullptr;
  if (!handle) recordLastError();
  handleSlots[slot].store(handle, std::memory_order_release);  // a failed open frees the slot
  return handle ? slot : -1;
}

void releaseSlot(int slot) {
  if (slot < StandardSlots || slot >= SlotCount) return;
  if (!CloseHandle(handleSlots[slot].load(std::memory_order_relaxed))) recordLastError();
  handleSlots[slot].store(nullptr, std::memory_order_release);
}

}  // namespace trovex
