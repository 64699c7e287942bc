// The message filter: three category switches and include/exclude lists of
// identifier patterns.
#pragma once

#include <cstdint>

constexpr unsigned PatternListSize = 2048;  // bytes of a list field, NUL included

struct MessageFilter {
  int32_t warnState;                // 'w' switch; nonzero is on, stored as given
  int32_t errorState;               // 'e' switch
  int32_t initState;                // 'i' switch
  char includeIds[PatternListSize];  // include pattern list; empty: no restriction
  char excludeIds[PatternListSize];  // exclude pattern list; empty: nothing excluded
};

// The process-wide filter.
extern MessageFilter messageFilter;

// The state right after loading: every switch on, both lists empty.
void initMessageFilter(MessageFilter* filter);

// Null letters pass; otherwise some letter must name a switched-on category.
bool categoryPasses(const MessageFilter* filter, const char* typeLetters);

// Null ids pass; otherwise the id must not match the exclude list and, when
// there is an include list, must match it.
bool idPasses(const MessageFilter* filter, const char* id);

// Copy a list into its field (cut to fit); null empties it.
void setIncludeIds(MessageFilter* filter, const char* text);
void setExcludeIds(MessageFilter* filter, const char* text);

// Wildcard matching without regard to case: true if any pattern of the
// ";"-separated list matches, or if the pattern matches the whole name.
bool matchPatternList(const char* list, const char* name);
bool matchPattern(const char* pattern, const char* name);
