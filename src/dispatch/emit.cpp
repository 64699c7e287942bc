#include "dispatch/emit.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "debugchannel/channel.h"
#include "dispatch/filter.h"
#include "fileio/fileio.h"
#include "format/format.h"

namespace {

// Labels by category level: none, 'i', 'w', 'e'.
const char* const CategoryLabels[4] = {"", "init", "warn", "error"};
constexpr unsigned ErrorLevel = 3;
const char HeaderAtLineStart[] = "%s<%s>: ";
const char HeaderAfterOpenLine[] = "\n%s<%s>: ";

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
  if (label && !*label) label = nullptr;
  if (id && !*id) id = nullptr;
  CallbackChunk chunk;
  chunk.chunks = ChunkCollector{chunk.text, ChunkSize, 0, deliverFullChunk};
  chunk.callback = callback;
  if (label || id) chunk.callback(label, id, nullptr, 0);
  FormatSink sink;
  beginChunkedRun(&sink, format, args, &chunk.chunks);
  formatToSink(&sink);
  endFormatRun(&sink);
  if (chunk.chunks.fill > 0) chunk.callback(nullptr, nullptr, chunk.text, chunk.chunks.fill);
  chunk.callback(nullptr, nullptr, nullptr, 0);
}

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

    if (channelEnabled) {
      if (headerDue) channelPrintf(header, label, idText);
      channelVPrintf(format, args);
    }
    // Read once: the callback may change the setting on this thread.
    const MessageCallback callback = context->callbackEnabled ? context->callback : nullptr;
    if (callback) {
      if (continuing)
        deliverToCallback(callback, nullptr, nullptr, format, args);
      else
        deliverToCallback(callback, label, idText, format, args);
    }
    if (stream) {
      if (headerDue) printStream(stream, header, label, idText);
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
