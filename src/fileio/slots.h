// Inside the file layer: the handle-slot table, whose slots are claimed and
// freed atomically, since files may be opened and closed on several threads
// at once (a host thread copying the protocol file while others emit).
// Streams refer to their files by slot.
#pragma once

#include "fileio/fileio.h"
#include "platform/win32.h"

namespace trovex {

// How openSlot calls CreateFileA.
struct SlotOpen {
  DWORD access;       // GENERIC_READ and/or GENERIC_WRITE
  DWORD shareMode;    // FILE_SHARE_* bits
  DWORD disposition;  // CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS
  DWORD attributes;   // attributes passed for a new file
};

// The handle in a slot, or null for a free one. A stream reads its own slot,
// which nobody else writes while the stream is open.
HANDLE slotHandle(int slot);

// Fills the standard slots 0 to 2 (null for a missing handle).
void setStandardSlots(HANDLE input, HANDLE output, HANDLE error);

// Opens a file into the lowest free slot from 3 up and returns the slot, or
// -1: with errorNumber 12 when no slot is free, else with the system error recorded.
int openSlot(const char* name, const SlotOpen& open);

// Closes the handle of a named slot and frees the slot; standard slots are
// left alone. A failed close is recorded in the error state.
void releaseSlot(int slot);

}  // namespace trovex
