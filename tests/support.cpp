#include "support.h"

#include "callback_recorder.h"
#include "message_path.h"

namespace trovex {

namespace {
void appendToString(FormatSink* sink) { static_cast<std::string*>(sink->state)->push_back(sink->ch); }
}  // namespace

std::string vformatted(const char* format, va_list args) {
  std::string out;
  va_list copy;
  va_copy(copy, args);
  FormatSink sink;
  beginFormatRun(&sink, format, &copy, appendToString, &out);
  formatToSink(&sink);
  endFormatRun(&sink);
  va_end(copy);
  return out;
}

std::string formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = vformatted(format, args);
  va_end(args);
  return out;
}


std::vector<CallbackCall> recordedCalls;

void TROVEX_CALL recordCallback(const char* label, const char* id, const char* data, int length) {
  recordedCalls.push_back(CallbackCall{label != nullptr, id != nullptr, data != nullptr, label ? label : "",
                                       id ? id : "", data ? std::string(data, static_cast<size_t>(length)) : "",
                                       length});
}

std::string recordedText() {
  std::string text;
  for (const CallbackCall& call : recordedCalls) text += call.data;
  return text;
}

std::vector<int> recordedChunkLengths() {
  std::vector<int> lengths;
  for (const CallbackCall& call : recordedCalls)
    if (call.hasData) lengths.push_back(call.length);
  return lengths;
}

SavedSettings::SavedSettings()
    : switches_{messageFilter.errorState.load(), messageFilter.warnState.load(), messageFilter.initState.load()},
      lists_(messageFilter.lists),
      callback_(outputContext.callback.load()),
      channel_(outputContext.channelEnabled.load()),
      protocol_(outputContext.protocolEnabled.load()) {
  setChannelEnabled(&outputContext, false);
  setProtocolEnabled(&outputContext, false);
  setCallback(&outputContext, recordCallback);
  recordedCalls.clear();
}

SavedSettings::~SavedSettings() {
  swapCategorySwitch(&messageFilter, 'e', switches_[0]);
  swapCategorySwitch(&messageFilter, 'w', switches_[1]);
  swapCategorySwitch(&messageFilter, 'i', switches_[2]);
  setIncludeIds(&messageFilter, lists_.includeIds);
  setExcludeIds(&messageFilter, lists_.excludeIds);
  setCallback(&outputContext, callback_);
  setChannelEnabled(&outputContext, channel_);
  setProtocolEnabled(&outputContext, protocol_);
}

}  // namespace trovex
