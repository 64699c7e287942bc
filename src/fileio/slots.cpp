// The handle-slot table and its lock.
#include "fileio/slots.h"

#include "common/hold.h"

namespace {

HANDLE handleSlots[SlotCount];  // null: free

// A named slot taken while its file is being opened, so that the lock need
// not be held across CreateFileA. CreateFileA's own failure value is never
// stored, so it cannot be mistaken for a handle.
const HANDLE ReservedSlot = INVALID_HANDLE_VALUE;

// The lock over the slot table, set up at library load and deleted at
// unload (a function-local static would need a guarded initialisation, which
// costs the DLL a handle per load). It is held only to read or change slots,
// never across a system call.
CRITICAL_SECTION slotLock;

}  // namespace

void initSlotTable() { InitializeCriticalSection(&slotLock); }
void shutDownSlotTable() { DeleteCriticalSection(&slotLock); }

HANDLE slotHandle(int slot) { return slot >= 0 && slot < SlotCount ? handleSlots[slot] : nullptr; }

void setStandardSlots(HANDLE input, HANDLE output, HANDLE error) {
  SectionHold hold(&slotLock);
  handleSlots[0] = input;
  handleSlots[1] = output;
  handleSlots[2] = error;
}

int openSlot(const char* name, const SlotOpen& open) {
  int slot = -1;
  {
    SectionHold hold(&slotLock);
    for (int i = StandardSlots; i < SlotCount && slot < 0; ++i)
      if (!handleSlots[i]) {
        handleSlots[i] = ReservedSlot;
        slot = i;
      }
  }
  if (slot < 0) {
    errorNumber = ErrorNoMemory;
    return -1;
  }
  SECURITY_ATTRIBUTES security;
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = FALSE;
  HANDLE handle = CreateFileA(name, open.access, open.shareMode, &security, open.disposition, open.attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) handle = nullptr;
  if (!handle) recordLastError();
  SectionHold hold(&slotLock);
  handleSlots[slot] = handle;
  return handle ? slot : -1;
}

void releaseSlot(int slot) {
  if (slot < StandardSlots || slot >= SlotCount) return;
  if (!CloseHandle(handleSlots[slot])) recordLastError();
  SectionHold hold(&slotLock);
  handleSlots[slot] = nullptr;
}
