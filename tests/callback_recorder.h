// Records the calls that a MessageCallback receives.
#pragma once

#include <string>
#include <vector>

#include "trovex.h"

namespace trovex {

struct CallbackCall {
  bool hasLabel, hasId, hasData;
  std::string label, id, data;
  int length;

  bool isEnd() const { return !hasLabel && !hasId && !hasData && length == 0; }
};

// Every call since the last clear, in order.
extern std::vector<CallbackCall> recordedCalls;

void TROVEX_CALL recordCallback(const char* label, const char* id, const char* data, int length);

// The concatenated data of the recorded calls, and the lengths of the data calls.
std::string recordedText();
std::vector<int> recordedChunkLengths();

}  // namespace trovex
