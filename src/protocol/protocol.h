// The output context: the process-wide record of the protocol file, the
// destination switches, the host's callback and the emission mutex.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"
#include "trovex.h"

struct Stream;

constexpr unsigned FileNameSize = 2048;  // bytes of fileName and resolvedPath
constexpr unsigned OpenModeSize = 32;    // bytes of openMode

struct OutputContext {
  char fileName[FileNameSize];      // protocol file as named; after the first open its full path; empty: none
  char resolvedPath[FileNameSize];  // work buffer for directory candidates
  char openMode[OpenModeSize];      // mode of the first open of a newly named file
  uint32_t sizeLimit;               // bytes at which truncation is considered
  uint32_t keepSize;                // bytes of tail that truncation aims to keep
  Stream* stream;                   // the open protocol stream, or null
  HANDLE mutex;                     // serialises emission; null if creation failed
  MessageCallback callback;         // the host's text receiver, or null
  uint8_t opened;                   // the current fileName has been opened once
  std::atomic<uint8_t> continuation;  // the next message continues the current line; written under
                                      // the mutex, atomic so that a stopped message may read it without
  uint8_t channelEnabled;           // debug channel destination on
  uint8_t protocolEnabled;          // protocol file destination on
  uint8_t callbackEnabled;          // callback destination on
  uint8_t truncatePending;          // the once-per-load size check is still due
  uint8_t atLineStart;              // the last message's format ended with a newline
  uint32_t emitDepth;               // messages in progress on the owning thread (a callback may emit)
};

// The process-wide context.
extern OutputContext outputContext;

// Gives the context its defaults and creates its mutex (none if that fails).
void initOutputContext(OutputContext* context);
// Flushes and closes a protocol stream still held, and closes the mutex.
void destroyOutputContext(OutputContext* context);

// Takes the context's mutex with no time limit; nothing when there is none.
// The mutex is recursive, so the host's callback may call the setters on the
// emitting thread.
void lockContext(OutputContext* context);
// Releases the mutex: nonzero on success, 0 on failure or without a mutex.
int unlockContext(OutputContext* context);

// Holds the context's mutex for a scope.
class ContextLock {
 public:
  explicit ContextLock(OutputContext* context) : context_(context) { lockContext(context_); }
  ~ContextLock() { unlockContext(context_); }
  ContextLock(const ContextLock&) = delete;
  ContextLock& operator=(const ContextLock&) = delete;

 private:
  OutputContext* context_;
};

// Every operation below that a host reaches through an export takes the
// mutex itself, so that a message, which reads the context under the mutex,
// never sees a setting half written.

// Setters behind the exports: names are cut to fit, null or "" mode is "w".
void setFileName(OutputContext* context, const char* name);
void setOpenMode(OutputContext* context, const char* mode);
// The host's callback; null removes it.
void setCallback(OutputContext* context, MessageCallback callback);
// Destination switches, stored as booleans.
void setChannelEnabled(OutputContext* context, bool on);
void setProtocolEnabled(OutputContext* context, bool on);

// The protocol stream, opened on demand; null when there is no file name or
// it cannot be opened.
Stream* openProtocolStream(OutputContext* context);
// Closes the protocol stream if one is open.
void closeProtocolStream(OutputContext* context);

// Settles the location of the current name when a setter has cleared it: a
// stream held for the name before is closed, and the file is opened and
// closed again, which creates it (or, with "w", empties it).
void settleProtocolFile(OutputContext* context);

// Once per load, before the first reopen: a file of sizeLimit bytes or more
// is rewritten as a marker line with the date and its tail from the last
// form feed that leaves at least keepSize - 1 bytes, when that tail is
// shorter than (keepSize + sizeLimit) / 2. Anything unexpected leaves the
// file as it is.
void truncateProtocolFile(OutputContext* context, const char* name);
// The offset of that form feed in text, or 0 when there is none.
uint32_t findCutPoint(const uint8_t* text, uint32_t size, uint32_t keepSize);

// Copies the protocol file's name into buffer: 1, or 0 and "" if it does not
// fit. With force, the file's location is settled first.
int readFileName(OutputContext* context, char* buffer, int length, int force);

// Copies the protocol file to destination (appending with append): 1 or 0.
int copyProtocolFile(OutputContext* context, const char* destination, int append);
