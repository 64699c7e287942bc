#include "dispatch/emit.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "common/texts.h"
#include "debugchannel/channel.h"
#include "dispatch/filter.h"
#include "fileio/fileio.h"
#include "format/format.h"

namespace {


// Hosts are promised data calls of at most 96 bytes, and a body of exactly 96
// characters as one call: fixed by the callback contract, not tunable.
constexpr unsigned ChunkSize = 96;

struct CallbackChunk {
  ChunkCollector chunks;     // first, so the collector's address is the chunk's; holds `fill`
  MessageCallback callback;  // copied at the start of the delivery
  char text[ChunkSize];      // characters produced and not yet delivered
};

// deliverFullChunk turns the collector's address back into its chunk.
static_assert(offsetof(CallbackChunk, chunks) == 0, "the collector must open the chunk record");
static_assert(std::is_standard_layout_v<CallbackChunk>, "offsetof needs a standard layout");

// A message's text, produced once on the emitting thread's stack before the
// mutex is taken; under the mutex every destination is handed these bytes.
// The engine's output depends only on the format and the arguments, so each
// destination gets what formatting it there would give. A text longer than
// the array is formatted under the mutex once per destination instead. The
// size is a speed choice, not behaviour: it is the debug channel's piece
// size, so a text that fits reaches the channel in one piece, as a print
// would hand it on.
constexpr unsigned PreparedSize = 1024;

struct PreparedText {
  ChunkCollector chunks;  // first, so the collector's address is the record's
  bool tooLong;           // the text did not fit; text holds none of it usefully
  char text[PreparedSize];
};
static_assert(offsetof(PreparedText, chunks) == 0, "the collector must open the record");
static_assert(std::is_standard_layout_v<PreparedText>, "offsetof needs a standard layout");

// Called when a character arrives at a full array.
void markTooLong(ChunkCollector* chunks) { reinterpret_cast<PreparedText*>(chunks)->tooLong = true; }

// Formats the message into prepared; false when it does not fit.
bool prepareText(PreparedText* prepared, const char* format, va_list* args) {
  prepared->chunks = ChunkCollector{prepared->text, PreparedSize, 0, markTooLong};
  prepared->tooLong = false;
  FormatSink sink;
  beginChunkedRun(&sink, format, args, &prepared->chunks);
  formatToSink(&sink);
  endFormatRun(&sink);
  return !prepared->tooLong;
}

// The header the channel and the protocol file get, as the formats
// HeaderAtLineStart and HeaderAfterOpenLine produce it ("%s" takes at most
// 65535 characters), put together directly; 0 when it does not fit in
// `size` bytes, and the caller formats it instead.
constexpr unsigned HeaderSize = 256;
constexpr size_t TextDirectiveLimit = 65535;

unsigned buildHeader(char* out, bool atLineStart, const char* label, const char* id) {
  const size_t labelLength = strnlen(label, TextDirectiveLimit);
  const size_t idLength = strnlen(id, TextDirectiveLimit);
  const size_t length = (atLineStart ? 0 : 1) + labelLength + 1 + idLength + 3;
  if (length > HeaderSize) return 0;
  char* p = out;
  if (!atLineStart) *p++ = '\n';
  std::memcpy(p, label, labelLength);
  p += labelLength;
  *p++ = '<';
  std::memcpy(p, id, idLength);
  p += idLength;
  std::memcpy(p, ">: ", 3);
  return static_cast<unsigned>(length);
}

// The callback's header call (when label or id is not empty), the data calls
// and the end call.
void callHeader(MessageCallback callback, const char*& label, const char*& id) {
  if (label && !*label) label = nullptr;
  if (id && !*id) id = nullptr;
  if (label || id) callback(label, id, nullptr, 0);
}

// The highest level among the letters wins: 'e' 3, 'w' 2, 'i' 1.
unsigned categoryLevel(const char* typeLetters) {
  unsigned level = 0;
  if (!typeLetters) return level;
  for (const char* p = typeLetters; *p; ++p) {
    if (*p == 'e') level = 3;
    else if (*p == 'w' && level < 2) level = 2;
    else if (*p == 'i' && level < 1) level = 1;
  }
  return level;
}

// A full chunk goes out only when the 97th character arrives, so a body of
// exactly 96 characters is one data call.
void deliverFullChunk(ChunkCollector* chunks) {
  CallbackChunk* chunk = reinterpret_cast<CallbackChunk*>(chunks);
  chunk->callback(nullptr, nullptr, chunk->text, ChunkSize);
}

bool endsWithNewline(const char* format) {
  if (!format || !*format) return false;
  return format[std::strlen(format) - 1] == '\n';
}

}  // namespace

void deliverToCallback(MessageCallback callback, const char* label, const char* id,
                       const char* format, va_list* args) {
  CallbackChunk chunk;
  chunk.chunks = ChunkCollector{chunk.text, ChunkSize, 0, deliverFullChunk};
  chunk.callback = callback;
  callHeader(callback, label, id);
  FormatSink sink;
  beginChunkedRun(&sink, format, args, &chunk.chunks);
  formatToSink(&sink);
  endFormatRun(&sink);
  if (chunk.chunks.fill > 0) chunk.callback(nullptr, nullptr, chunk.text, chunk.chunks.fill);
  chunk.callback(nullptr, nullptr, nullptr, 0);
}

void deliverTextToCallback(MessageCallback callback, const char* label, const char* id, const char* text,
                           unsigned count) {
  callHeader(callback, label, id);
  // A full chunk is called only when more follows, as the collector does.
  for (; count > ChunkSize; text += ChunkSize, count -= ChunkSize) callback(nullptr, nullptr, text, ChunkSize);
  if (count > 0) callback(nullptr, nullptr, text, static_cast<int>(count));
  callback(nullptr, nullptr, nullptr, 0);
}

namespace {

// Everything of a message but the early return of a stopped one. Kept out of
// line, so the stopped message's path does not pay for this one's frame.
[[gnu::noinline]] int runMessage(OutputContext* context, const char* typeLetters, const char* id,
                                 const char* format, va_list* args, bool keepOpen) {
  // Outside the mutex, so other threads' messages need not wait for it.
  PreparedText prepared;
  const bool fits = prepareText(&prepared, format, args);
  const unsigned length = prepared.chunks.fill;
  lockContext(context);
  // A message emitted from inside the host's callback runs nested in the
  // outer one, on the same thread: it must leave the outer message's
  // protocol stream open.
  const bool nested = context->emitDepth++ > 0;

  if (categoryPasses(&messageFilter, typeLetters) && idPasses(&messageFilter, id)) {
    Stream* stream = context->protocolEnabled ? openProtocolStream(context) : nullptr;
    const bool atLineStart = context->atLineStart;
    const bool channelEnabled = context->channelEnabled;
    const unsigned level = categoryLevel(typeLetters);
    const char* label = CategoryLabels[level];
    const char* idText = id ? id : "";
    const char* header = atLineStart ? HeaderAtLineStart : HeaderAfterOpenLine;
    const bool continuing = context->continuation.load(std::memory_order_relaxed) != 0;
    const bool headerDue = typeLetters && id && !continuing;

    char headerText[HeaderSize];
    const unsigned headerLength = headerDue ? buildHeader(headerText, atLineStart, label, idText) : 0;
    if (channelEnabled) {
      if (headerLength > 0)
        channelWriteText(headerText, headerLength);
      else if (headerDue)
        channelPrintf(header, label, idText);
      if (fits)
        channelWriteText(prepared.text, length);
      else
        channelVPrintf(format, args);
    }
    // Read once: the callback may change the setting on this thread.
    const MessageCallback callback = context->callbackEnabled ? context->callback : nullptr;
    if (callback) {
      const char* callbackLabel = continuing ? nullptr : label;
      const char* callbackId = continuing ? nullptr : idText;
      if (fits)
        deliverTextToCallback(callback, callbackLabel, callbackId, prepared.text, length);
      else
        deliverToCallback(callback, callbackLabel, callbackId, format, args);
    }
    if (stream) {
      if (headerLength > 0)
        writeStream(headerText, 1, headerLength, stream);
      else if (headerDue)
        printStream(stream, header, label, idText);
      if (fits)
        writeStream(prepared.text, 1, length, stream);
      else
        vprintStream(stream, format, args);
      if (!keepOpen && !nested) closeProtocolStream(context);
      // An error reaches the file at once, so a host that crashes right
      // after it still leaves it there; the stream stays open.
      else if (level == ErrorLevel) flushStream(stream);
    }

    context->atLineStart = 0;
    // Read again: a message the callback emitted may have cleared it.
    if (!context->continuation.load(std::memory_order_relaxed) && endsWithNewline(format))
      context->atLineStart = 1;
  }
  context->continuation.store(0, std::memory_order_relaxed);

  --context->emitDepth;
  return unlockContext(context);
}

}  // namespace

int emitMessage(OutputContext* context, const char* typeLetters, const char* id,
                const char* format, va_list* args, bool keepOpen) {
  if (!format) format = "";
  // A message whose category letters the switches stop, with no
  // continuation pending, changes nothing under the mutex: emitDepth goes up
  // and back down on this thread, and clearing a clear continuation is no
  // change. So it returns what the release would (1; the mutex exists)
  // without waiting for the lock. Both values it reads are atomic; another
  // thread may change them at any time, and seeing the value from before
  // that change is the same as this message having taken the mutex first.
  // A pending continuation needs the mutex (the message clears it), and so
  // does the identifier filter, whose lists are not atomic.
  if (context->mutex && !categoryPasses(&messageFilter, typeLetters) &&
      context->continuation.load(std::memory_order_relaxed) == 0)
    return 1;
  return runMessage(context, typeLetters, id, format, args, keepOpen);
}

int printKeepOpen(OutputContext* context, const char* typeLetters, const char* id,
                  const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = emitMessage(context, typeLetters, id, format, &args, true);
  va_end(args);
  return result;
}

int printAndClose(OutputContext* context, const char* typeLetters, const char* id,
                  const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = emitMessage(context, typeLetters, id, format, &args, false);
  va_end(args);
  return result;
}
