// Message emission: one message, filtered, with its header, to the debug
// channel, the host's callback and the protocol file, in that order.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "filter/filter.h"
#include "platform/win32.h"
#include "protocol/protocol.h"
#include "trovex.h"

namespace trovex {

// Emission's state. The settings (switches, callback) are atomic: setters
// store them without any lock, and a message reads each once. Everything
// else is written by messages only, under the message lock.
// The lock has a cache line of its own: every message writes it, and threads
// read the settings after it without the lock, which would otherwise miss in
// their caches at every other thread's message.
struct OutputContext {
  alignas(64) CRITICAL_SECTION lock;  // the message lock; its owner may enter again (a callback's messages)
  // The line state, written by every message under the lock, apart from the
  // lock, whose line waiting threads read.
  alignas(64) uint8_t atLineStart;    // the last delivered message's format ended with a newline
  std::atomic<uint8_t> continuation;  // the next message continues the current line; atomic so
                                      // that a message its category stops may read it unlocked

  alignas(64) std::atomic<bool> live;  // the lock exists: set at init, cleared by teardown under the lock
  MessageFilter* filter;   // the filter messages pass, handed in at init
  ProtocolFile* protocol;  // the protocol file destination, handed in at init

  std::atomic<MessageCallback> callback;  // the host's text receiver, or null
  std::atomic<bool> channelEnabled;       // debug channel destination on
  std::atomic<bool> protocolEnabled;      // protocol file destination on

  alignas(64) PatternLists lists;     // the filter's lists as messages last took them over
  uint32_t listsVersion;              // the filter's listsVersion that `lists` reflects
};

// The process-wide context, over messageFilter and protocolFile.
extern OutputContext outputContext;

// Defaults (every destination on, no callback, not at a line start) and the lock.
void initOutputContext(OutputContext* context, MessageFilter* filter, ProtocolFile* protocol);
// Waits for a message in progress, then closes a protocol stream still held;
// later messages do nothing and return 0.
void destroyOutputContext(OutputContext* context);

// Bits of a message's flags.
constexpr unsigned KeepOpen = 1;       // the protocol file stays open after the message
constexpr unsigned ContinuesLine = 2;  // the next message continues this one's line (if this one passes)

// The part of a message after its category letters were checked once,
// without the lock (emitWithFlags). Out of line.
int emitCheckedMessage(OutputContext* context, bool categoryPassed, const char* typeLetters, const char* id,
                       const char* format, va_list* args, unsigned flags);

// Emits one message. typeLetters and id may be null; a null format is empty
// text; with a null args the format is delivered as plain text. A message
// the filter stops reads none of its arguments. Returns 1, or 0 when the
// context has no lock (before load, after teardown) and nothing was done.
//
// Inline, so that a message whose category letters the switches stop, with
// no continuation pending, returns at once: it changes nothing, so it needs
// no lock. Both values are atomic; a setter's change racing with it may be
// seen or not, as if the message came just before or after it. A pending
// continuation needs the lock (the message clears it). answerWithoutLock is
// that first step alone: the message's result, or -1 when the message goes on
// to emitCheckedMessage with what the switches said.
inline int answerWithoutLock(OutputContext* context, const char* typeLetters, bool* categoryPassed) {
  if (!context->live.load(std::memory_order_relaxed)) return 0;
  *categoryPassed = categoryPasses(context->filter, typeLetters);
  if (!*categoryPassed && context->continuation.load(std::memory_order_relaxed) == 0) return 1;
  return -1;
}

inline int emitWithFlags(OutputContext* context, const char* typeLetters, const char* id, const char* format,
                         va_list* args, unsigned flags) {
  bool categoryPassed;
  const int answer = answerWithoutLock(context, typeLetters, &categoryPassed);
  if (answer >= 0) return answer;
  return emitCheckedMessage(context, categoryPassed, typeLetters, id, format, args, flags);
}

// keepOpen leaves the protocol file open after the message.
inline int emitMessage(OutputContext* context, const char* typeLetters, const char* id, const char* format,
                       va_list* args, bool keepOpen) {
  return emitWithFlags(context, typeLetters, id, format, args, keepOpen ? KeepOpen : 0u);
}

// A text of the library's own (the time stamp), delivered verbatim, keeping
// the protocol file open. With continues, the next message continues its
// line, when this one passed the filter.
inline int emitLibraryText(OutputContext* context, const char* typeLetters, const char* id, const char* text,
                           bool continues) {
  return emitWithFlags(context, typeLetters, id, text, nullptr, KeepOpen | (continues ? ContinuesLine : 0u));
}

// Settings behind the exports; they never wait for a message.
void setCallback(OutputContext* context, MessageCallback callback);
void setChannelEnabled(OutputContext* context, bool on);
void setProtocolEnabled(OutputContext* context, bool on);

// Holds the message lock for a scope, for operations that must not run
// beside a message (the protocol file's read-back and copy). When live() is
// false the library is not loaded, and the caller does nothing.
class MessageLockHold {
 public:
  explicit MessageLockHold(OutputContext* context);
  ~MessageLockHold();
  MessageLockHold(const MessageLockHold&) = delete;
  MessageLockHold& operator=(const MessageLockHold&) = delete;
  bool live() const { return live_; }

 private:
  OutputContext* context_;
  bool entered_;
  bool live_;
};

}  // namespace trovex
