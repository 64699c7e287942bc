#include "platform/posix/sim.h"

#include <atomic>
#include <cstring>

#include "platform/posix/handles.h"

namespace trovex::win32 {

namespace {

struct ArmedFailure {
  const char* name;  // null: entry free
  unsigned skip;     // calls still to succeed
  unsigned times;    // calls still to fail; 0 with `forever`
  bool forever;
  DWORD error;
};

struct CallCounter {
  const char* name;  // null: entry free
  unsigned calls;
};

struct ArmedShortCall {
  const char* name;  // "ReadFile" or "WriteFile"; null: entry free
  unsigned skip;     // calls still to transfer in full
  DWORD bytes;       // bytes the short call transfers at most
  DWORD error;       // last error of the short call; 0: it succeeds
};

constexpr int MaxArmed = 32;
ArmedFailure armed[MaxArmed];
CallCounter counters[MaxArmed];
constexpr int MaxShortCalls = 4;
ArmedShortCall shortCallsArmed[MaxShortCalls];
bool localTimeFixed;
SYSTEMTIME fixedLocalTime;
// Controls in use, so that an untouched emulation skips the lock.
std::atomic<int> armedCount{0};
pthread_mutex_t armedLock = PTHREAD_MUTEX_INITIALIZER;

ArmedFailure* findArmed(const char* name) {
  for (ArmedFailure& entry : armed)
    if (entry.name && std::strcmp(entry.name, name) == 0) return &entry;
  return nullptr;
}

CallCounter* findCounter(const char* name) {
  for (CallCounter& entry : counters)
    if (entry.name && std::strcmp(entry.name, name) == 0) return &entry;
  return nullptr;
}

void armShortCall(const char* name, unsigned skip, DWORD bytes, DWORD error) {
  pthread_mutex_lock(&armedLock);
  for (ArmedShortCall& entry : shortCallsArmed)
    if (!entry.name) {
      entry = ArmedShortCall{name, skip, bytes, error};
      armedCount.fetch_add(1);
      break;
    }
  pthread_mutex_unlock(&armedLock);
}

}  // namespace

unsigned nullStandardHandles = 0;
bool filesAsCharDevices = false;

bool simShouldFail(const char* name) {
  if (armedCount.load(std::memory_order_relaxed) == 0) return false;
  pthread_mutex_lock(&armedLock);
  if (CallCounter* counter = findCounter(name)) ++counter->calls;
  bool fail = false;
  DWORD error = 0;
  if (ArmedFailure* entry = findArmed(name)) {
    if (entry->skip > 0) {
      --entry->skip;
    } else {
      fail = true;
      error = entry->error;
      if (!entry->forever && --entry->times == 0) {
        entry->name = nullptr;
        armedCount.fetch_sub(1);
      }
    }
  }
  pthread_mutex_unlock(&armedLock);
  if (fail) SetLastError(error);
  return fail;
}

bool simShortCall(const char* name, DWORD size, DWORD* bytes, DWORD* error) {
  if (armedCount.load(std::memory_order_relaxed) == 0) return false;
  pthread_mutex_lock(&armedLock);
  bool ends = false;
  // Every entry armed for this function counts the call; the first one due ends it short.
  for (ArmedShortCall& entry : shortCallsArmed) {
    if (!entry.name || std::strcmp(entry.name, name) != 0) continue;
    if (entry.skip > 0) {
      --entry.skip;
    } else if (!ends) {
      ends = true;
      *bytes = entry.bytes < size ? entry.bytes : size;
      *error = entry.error;
      entry.name = nullptr;
      armedCount.fetch_sub(1);
    }
  }
  pthread_mutex_unlock(&armedLock);
  return ends;
}

bool simFixedLocalTime(SYSTEMTIME* time) {
  if (armedCount.load(std::memory_order_relaxed) == 0) return false;
  pthread_mutex_lock(&armedLock);
  const bool fixed = localTimeFixed;
  if (fixed) *time = fixedLocalTime;
  pthread_mutex_unlock(&armedLock);
  return fixed;
}

namespace {
std::atomic<DWORD> tickOffset{0};
}  // namespace

DWORD simTickOffset() { return tickOffset.load(std::memory_order_relaxed); }

namespace sim {

void advanceTicks(DWORD milliseconds) { tickOffset.fetch_add(milliseconds, std::memory_order_relaxed); }

void failCall(const char* name, unsigned skip, unsigned times, DWORD error) {
  pthread_mutex_lock(&armedLock);
  ArmedFailure* entry = findArmed(name);
  if (!entry) {
    for (ArmedFailure& free : armed)
      if (!free.name) {
        entry = &free;
        armedCount.fetch_add(1);
        break;
      }
  }
  if (entry) *entry = ArmedFailure{name, skip, times, times == 0, error};
  pthread_mutex_unlock(&armedLock);
}

void shortWrite(unsigned skip, DWORD bytes, DWORD error) { armShortCall("WriteFile", skip, bytes, error); }

void shortRead(unsigned skip, DWORD bytes) { armShortCall("ReadFile", skip, bytes, 0); }

void countCalls(const char* name) {
  pthread_mutex_lock(&armedLock);
  CallCounter* entry = findCounter(name);
  if (!entry) {
    for (CallCounter& free : counters)
      if (!free.name) {
        entry = &free;
        armedCount.fetch_add(1);
        break;
      }
  }
  if (entry) *entry = CallCounter{name, 0};
  pthread_mutex_unlock(&armedLock);
}

void fixLocalTime(const SYSTEMTIME* time) {
  pthread_mutex_lock(&armedLock);
  if (time && !localTimeFixed) armedCount.fetch_add(1);
  if (!time && localTimeFixed) armedCount.fetch_sub(1);
  localTimeFixed = time != nullptr;
  if (time) fixedLocalTime = *time;
  pthread_mutex_unlock(&armedLock);
}

unsigned callCount(const char* name) {
  pthread_mutex_lock(&armedLock);
  const CallCounter* entry = findCounter(name);
  const unsigned calls = entry ? entry->calls : 0;
  pthread_mutex_unlock(&armedLock);
  return calls;
}

void nullStdHandles(bool on) { nullStandardHandles = on ? 7u : 0u; }

void nullStdHandle(DWORD which) {
  if (which == STD_INPUT_HANDLE) nullStandardHandles |= 1u;
  if (which == STD_OUTPUT_HANDLE) nullStandardHandles |= 2u;
  if (which == STD_ERROR_HANDLE) nullStandardHandles |= 4u;
}

void treatFilesAsCharDevices(bool on) { filesAsCharDevices = on; }

void reset() {
  pthread_mutex_lock(&armedLock);
  for (ArmedFailure& entry : armed) entry.name = nullptr;
  for (CallCounter& entry : counters) entry.name = nullptr;
  for (ArmedShortCall& entry : shortCallsArmed) entry.name = nullptr;
  localTimeFixed = false;
  armedCount.store(0);
  pthread_mutex_unlock(&armedLock);
  nullStandardHandles = 0;
  filesAsCharDevices = false;
  resetSystem();
}

}  // namespace sim

}  // namespace trovex::win32
