// The handle-slot table, the open-stream list and their lock.
#include "fileio/slots.h"

namespace {

HANDLE handleSlots[SlotCount];  // null: free

// A named slot taken while its file is being opened, so that the lock need
// not be held across CreateFileA. CreateFileA's own failure value is never
// stored, so it cannot be mistaken for a handle.
const HANDLE ReservedSlot = INVALID_HANDLE_VALUE;

Stream listHead;  // fixed head entry of the open-stream list; only `next` is used

// The lock over the slot table and the open-stream list, set up at library
// load and deleted at unload (a function-local static would need a guarded
// initialisation, which costs the DLL a handle per load).
CRITICAL_SECTION layerLock;

class LayerLock {
 public:
  LayerLock() { EnterCriticalSection(&layerLock); }
  ~LayerLock() { LeaveCriticalSection(&layerLock); }
  LayerLock(const LayerLock&) = delete;
  LayerLock& operator=(const LayerLock&) = delete;
};

}  // namespace

void initFileLayer() { InitializeCriticalSection(&layerLock); }
void shutDownFileLayer() { DeleteCriticalSection(&layerLock); }

HANDLE slotHandle(int slot) { return slot >= 0 && slot < SlotCount ? handleSlots[slot] : nullptr; }

void setStandardSlots(HANDLE input, HANDLE output, HANDLE error) {
  LayerLock hold;
  handleSlots[0] = input;
  handleSlots[1] = output;
  handleSlots[2] = error;
}

int openSlot(const char* name, const SlotOpen& open) {
  int slot = -1;
  {
    LayerLock hold;
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
  LayerLock hold;
  handleSlots[slot] = handle;
  return handle ? slot : -1;
}

void releaseSlot(int slot) {
  if (slot < StandardSlots || slot >= SlotCount) return;
  if (!CloseHandle(handleSlots[slot])) recordLastError();
  LayerLock hold;
  handleSlots[slot] = nullptr;
}

void linkStream(Stream* stream) {
  LayerLock hold;
  stream->prev = &listHead;
  stream->next = listHead.next;
  if (listHead.next) listHead.next->prev = stream;
  listHead.next = stream;
}

void unlinkStream(Stream* stream) {
  LayerLock hold;
  stream->prev->next = stream->next;
  if (stream->next) stream->next->prev = stream->prev;
  stream->next = stream->prev = nullptr;
}

void flushLineBufferedStreams() {
  LayerLock hold;
  for (Stream* stream = listHead.next; stream; stream = stream->next)
    if ((stream->flags & LineBuffered) && (stream->flags & Writing)) flushStream(stream);
}
