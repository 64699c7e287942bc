// The message filter: category switches, and include and exclude lists of
// identifier patterns split at unescaped ";".
#include "dispatch/filter.h"

#include <cstring>

#include "common/hold.h"
#include "common/settings.h"

MessageFilter messageFilter;

// clang-format off
const unsigned char foldTable[256] = {
  0x00,0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B,0x0C,0x0D,0x0E,0x0F,
  0x10,0x11,0x12,0x13,0x14,0x15,0x16,0x17,0x18,0x19,0x1A,0x1B,0x1C,0x1D,0x1E,0x1F,
  0x20,0x21,0x22,0x23,0x24,0x25,0x26,0x27,0x28,0x29,0x2A,0x2B,0x2C,0x2D,0x2E,0x2F,
  0x30,0x31,0x32,0x33,0x34,0x35,0x36,0x37,0x38,0x39,0x3A,0x3B,0x3C,0x3D,0x3E,0x3F,
  0x40,0x61,0x62,0x63,0x64,0x65,0x66,0x67,0x68,0x69,0x6A,0x6B,0x6C,0x6D,0x6E,0x6F,  // 'A'-'O'
  0x70,0x71,0x72,0x73,0x74,0x75,0x76,0x77,0x78,0x79,0x7A,0x5B,0x5C,0x5D,0x5E,0x5F,  // 'P'-'Z'
  0x60,0x61,0x62,0x63,0x64,0x65,0x66,0x67,0x68,0x69,0x6A,0x6B,0x6C,0x6D,0x6E,0x6F,
  0x70,0x71,0x72,0x73,0x74,0x75,0x76,0x77,0x78,0x79,0x7A,0x7B,0x7C,0x7D,0x7E,0x7F,
  0x80,0x81,0x82,0x83,0x84,0x85,0x86,0x87,0x88,0x89,0x8A,0x8B,0x8C,0x8D,0x8E,0x8F,
  0x90,0x91,0x92,0x93,0x94,0x95,0x96,0x97,0x98,0x99,0x9A,0x9B,0x9C,0x9D,0x9E,0x9F,
  0xA0,0xA1,0xA2,0xA3,0xA4,0xA5,0xA6,0xA7,0xA8,0xA9,0xAA,0xAB,0xAC,0xAD,0xAE,0xAF,
  0xB0,0xB1,0xB2,0xB3,0xB4,0xB5,0xB6,0xB7,0xB8,0xB9,0xBA,0xBB,0xBC,0xBD,0xBE,0xBF,
  0xE0,0xE1,0xE2,0xE3,0xE4,0xE5,0xE6,0xE7,0xE8,0xE9,0xEA,0xEB,0xEC,0xED,0xEE,0xEF,  // À-Ï
  0xF0,0xF1,0xF2,0xF3,0xF4,0xF5,0xF6,0xD7,0xF8,0xF9,0xFA,0xFB,0xFC,0xFD,0xFE,0xDF,  // Ð-Þ; × and ß stay
  0xE0,0xE1,0xE2,0xE3,0xE4,0xE5,0xE6,0xE7,0xE8,0xE9,0xEA,0xEB,0xEC,0xED,0xEE,0xEF,
  0xF0,0xF1,0xF2,0xF3,0xF4,0xF5,0xF6,0xF7,0xF8,0xF9,0xFA,0xFB,0xFC,0xFD,0xFE,0xFF,
};
// clang-format on

void initMessageFilter(MessageFilter* filter) {
  filter->warnState = 1;
  filter->errorState = 1;
  filter->initState = 1;
  filter->categoriesOn = ErrorBit | WarnBit | InitBit;
  setIncludeIds(filter, nullptr);
  setExcludeIds(filter, nullptr);
}

// The exclude list is consulted first, so an identifier in both is stopped.
bool listsPass(const PatternLists* lists, const char* id) {
  if (!id) return true;
  if (lists->excludeIds[0] && matchPatternList(lists->excludeIds, id)) return false;
  if (lists->includeIds[0] && !matchPatternList(lists->includeIds, id)) return false;
  return true;
}

namespace {
// The switches as one mask, from their states.
uint8_t switchedOn(const MessageFilter* filter) {
  return static_cast<uint8_t>((filter->errorState.load(std::memory_order_relaxed) ? ErrorBit : 0) |
                              (filter->warnState.load(std::memory_order_relaxed) ? WarnBit : 0) |
                              (filter->initState.load(std::memory_order_relaxed) ? InitBit : 0));
}
}  // namespace

int32_t swapCategorySwitch(MessageFilter* filter, char letter, int32_t state) {
  std::atomic<int32_t>* field = letter == 'e' ? &filter->errorState
                 : letter == 'w' ? &filter->warnState
                 : letter == 'i' ? &filter->initState
                                 : nullptr;
  if (!field) return 0;
  // Under the settings lock, so that two setters racing on one switch leave
  // the mask as the states they leave.
  SectionHold hold(settingsLock());
  const int32_t previous = field->exchange(state);
  filter->categoriesOn.store(switchedOn(filter), std::memory_order_relaxed);
  return previous;
}

namespace {
void setList(MessageFilter* filter, char* list, const char* text) {
  SectionHold hold(settingsLock());
  copyCut(list, text, PatternListSize);
  filter->listsSet.store(filter->lists.includeIds[0] || filter->lists.excludeIds[0], std::memory_order_relaxed);
  // Release: a message that sees the new version under the settings lock
  // copies the new text; one that reads listsSet alone needs nothing else.
  filter->listsVersion.fetch_add(1, std::memory_order_release);
}

// Copies a list up to its terminator; the rest of the field is never read.
void copyList(char* to, const char* from) { std::memcpy(to, from, std::strlen(from) + 1); }
}  // namespace

void setIncludeIds(MessageFilter* filter, const char* text) { setList(filter, filter->lists.includeIds, text); }
void setExcludeIds(MessageFilter* filter, const char* text) { setList(filter, filter->lists.excludeIds, text); }

void copyListsIfChanged(const MessageFilter* filter, PatternLists* copy, uint32_t* version) {
  if (filter->listsVersion.load(std::memory_order_acquire) == *version) return;
  SectionHold hold(settingsLock());
  copyList(copy->includeIds, filter->lists.includeIds);
  copyList(copy->excludeIds, filter->lists.excludeIds);
  *version = filter->listsVersion.load(std::memory_order_relaxed);
}

bool matchPatternList(const char* list, const char* name) {
  char pattern[PatternBufferSize];
  const char* start = list;
  for (const char* p = list; *p; ++p) {
    // A ";" at the start of a pattern has the previous separator before it,
    // never a backslash, so it always separates.
    if (*p != ';' || (p > start && p[-1] == '\\')) continue;
    size_t length = static_cast<size_t>(p - start);
    if (length > PatternBufferSize - 1) length = PatternBufferSize - 1;
    std::memcpy(pattern, start, length);
    pattern[length] = '\0';
    if (matchPattern(pattern, name)) return true;
    start = p + 1;
  }
  return matchPattern(start, name);
}
