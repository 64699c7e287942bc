#include "common/settings.h"

#include <atomic>
#include <cstring>

namespace trovex {

namespace {
CRITICAL_SECTION section;
// Atomic: on POSIX a thread may still call a setter while the process exits.
std::atomic<bool> settingsLockReady;
}  // namespace

void initSettingsLock() {
  InitializeCriticalSection(&section);
  settingsLockReady = true;
}

void deleteSettingsLock() {
  if (!settingsLockReady) return;
  settingsLockReady = false;
  DeleteCriticalSection(&section);
}

CRITICAL_SECTION* settingsLock() { return settingsLockReady ? &section : nullptr; }

void copyCut(char* field, const char* text, unsigned size) {
  unsigned length = 0;
  if (text) {
    while (length + 1 < size && text[length] != '\0') ++length;
    std::memcpy(field, text, length);
  }
  field[length] = '\0';
}

}  // namespace trovex
