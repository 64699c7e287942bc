// The message filter: three category switches and include/exclude lists of
// identifier patterns.
#pragma once

#include <atomic>
#include <cstdint>

namespace trovex {

// Fixed sizes, not tunable: hosts rely on where a long list or pattern is cut.
constexpr unsigned PatternListSize = 2048;    // bytes of a list field, NUL included
constexpr unsigned PatternBufferSize = 2000;  // bytes of one pattern cut from a list (on the stack), NUL included

struct PatternLists {
  char includeIds[PatternListSize];  // include pattern list; empty: no restriction
  char excludeIds[PatternListSize];  // exclude pattern list; empty: nothing excluded
};

// The switches are atomic: a message reads each once, without a lock. The
// lists are written under the settings lock; a message matches against a
// copy of its own (copyListsIfChanged), never against the lists a setter writes.
struct MessageFilter {
  std::atomic<int32_t> warnState;   // 'w' switch; nonzero is on, stored as given
  std::atomic<int32_t> errorState;  // 'e' switch
  std::atomic<int32_t> initState;   // 'i' switch
  PatternLists lists;
  std::atomic<uint32_t> listsVersion;  // changes with every store into lists
  std::atomic<bool> listsSet;          // either list is not empty
};

// The process-wide filter.
extern MessageFilter messageFilter;

// The folded (lower-case) form of each byte: ASCII capitals and the
// Windows-1252 capitals 0xC0-0xD6 and 0xD8-0xDE; every other byte is itself.
extern const unsigned char foldTable[256];

// The state right after loading: every switch on, both lists empty.
void initMessageFilter(MessageFilter* filter);

// Null letters pass; otherwise some letter must name a switched-on category.
// Inline: every message asks it first, a stopped one nothing else.
inline bool categoryPasses(const MessageFilter* filter, const char* typeLetters) {
  if (!typeLetters) return true;
  for (const char* p = typeLetters; *p; ++p) {
    // Relaxed: a switch publishes nothing else, and a message that races
    // with its setter may see either value.
    if ((*p == 'e' && filter->errorState.load(std::memory_order_relaxed)) ||
        (*p == 'w' && filter->warnState.load(std::memory_order_relaxed)) ||
        (*p == 'i' && filter->initState.load(std::memory_order_relaxed)))
      return true;
  }
  return false;
}

// Null ids pass; otherwise the id must not match the exclude list and, when
// there is an include list, must match it.
bool listsPass(const PatternLists* lists, const char* id);
// The same with the filter's own lists, for a filter no other thread changes.
inline bool idPasses(const MessageFilter* filter, const char* id) { return listsPass(&filter->lists, id); }

// Brings copy up to the filter's lists, under the settings lock, when they
// changed since *version was taken.
void copyListsIfChanged(const MessageFilter* filter, PatternLists* copy, uint32_t* version);

// Stores state unchanged in the switch of category letter 'e', 'w' or 'i'
// and returns the value it held; any other letter changes nothing and gives 0.
int32_t swapCategorySwitch(MessageFilter* filter, char letter, int32_t state);

// Copy a list into its field, cut to its first 2047 characters; null empties
// it. Under the settings lock, so a message's copy never sees half a list.
void setIncludeIds(MessageFilter* filter, const char* text);
void setExcludeIds(MessageFilter* filter, const char* text);

// True if any pattern of the list matches the name. Patterns are separated by
// ";" unless a backslash stands directly before it; nothing is trimmed, and an
// empty pattern matches only the empty name. Every pattern but the last is cut
// to its first 1999 characters. Uses no heap memory.
bool matchPatternList(const char* list, const char* name);

// True if the pattern matches the whole name, comparing folded bytes: "*" any
// run, "?" any one character, "[set]" one member ("!" or "^" negates, ranges
// "lo-hi" compare as signed bytes), "\;" a literal ";". Time grows with the
// product of the two lengths; no recursion and no heap memory.
bool matchPattern(const char* pattern, const char* name);

}  // namespace trovex
