#include "platform/posix/sim.h"

#include <atomic>
#include <cstring>

#include "platform/posix/handles.h"

namespace {

struct ArmedFailure {
  const char* name;  // null: entry free
  unsigned skip;     // calls still to succeed
  unsigned times;    // calls still to fail; 0 with `forever`
  bool forever;
  DWORD error;
};

constexpr int MaxArmed = 32;
ArmedFailure armed[MaxArmed];
std::atomic<int> armedCount{0};
pthread_mutex_t armedLock = PTHREAD_MUTEX_INITIALIZER;

ArmedFailure* findArmed(const char* name) {
  for (ArmedFailure& entry : armed)
    if (entry.name && std::strcmp(entry.name, name) == 0) return &entry;
  return nullptr;
}

}  // namespace

bool nullStandardHandles = false;

bool simShouldFail(const char* name) {
  if (armedCount.load(std::memory_order_relaxed) == 0) return false;
  pthread_mutex_lock(&armedLock);
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

namespace sim {

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

void nullStdHandles(bool on) { nullStandardHandles = on; }

void reset() {
  pthread_mutex_lock(&armedLock);
  for (ArmedFailure& entry : armed) entry.name = nullptr;
  armedCount.store(0);
  pthread_mutex_unlock(&armedLock);
  nullStandardHandles = false;
}

}  // namespace sim
