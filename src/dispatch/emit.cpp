#include "dispatch/emit.h"

#include <cstring>
#include <string>

#include "common/contract.h"
#include "common/texts.h"
#include "debugchannel/channel.h"
#include "callback/callback.h"
#include "format/format.h"

namespace trovex {

OutputContext outputContext;

namespace {

// A thread that finds the message lock held sleeps at once. Measured with 2
// and 8 threads on two cores, spinning first only cost: each spin hands the
// lock straight to the spinner, so the delivery's lines (the line state, the
// protocol file, the stream and its buffer) move between cores at every
// message, and a spinner takes the core a preempted holder needs. Sleeping
// waiters let a holder deliver several messages in a row.
constexpr DWORD MessageLockSpins = 0;

// The destinations one message goes to, read once before anything is
// formatted: a setter's change applies wholly before or after a message.
struct Destinations {
  bool channel;
  bool protocol;
  MessageCallback callback;  // null: no callback destination
  bool any() const { return channel || protocol || callback; }
};

Destinations readDestinations(const OutputContext* context) {
  return Destinations{context->channelEnabled.load(std::memory_order_relaxed),
                      context->protocolEnabled.load(std::memory_order_relaxed),
                      context->callback.load(std::memory_order_relaxed)};
}

// A message's body, produced once on the emitting thread's stack before the
// lock is taken; every destination is handed these bytes. The engine's output
// depends only on the format and the arguments, so each destination gets
// what formatting it there would give. A longer text is formatted once per
// destination instead. The size is a speed choice, not behaviour: it is the
// debug channel's piece size, so a text that fits reaches the channel in one
// piece, as a print would hand it on.
constexpr unsigned PreparedSize = 1024;

struct PreparedBody {
  ChunkCollector chunks;  // owned by this record
  bool tooLong;           // the text did not fit; text holds none of it usefully
  char text[PreparedSize];
};

// Called when a character arrives at a full array.
void markTooLong(ChunkCollector* chunks) { static_cast<PreparedBody*>(chunks->owner)->tooLong = true; }

// The body as produced text when it fits, else as the format to run. The
// run ends at the format's terminating zero, which it sets *formatEnd to.
MessageText prepareBody(PreparedBody* prepared, const char* format, va_list* args, const char** formatEnd) {
  prepared->chunks = ChunkCollector{prepared->text, PreparedSize, 0, markTooLong, prepared};
  prepared->tooLong = false;
  FormatSink sink;
  beginChunkedRun(&sink, format, args, &prepared->chunks);
  formatToSink(&sink);
  endFormatRun(&sink);
  *formatEnd = sink.format;
  if (prepared->tooLong) return MessageText{nullptr, 0, format, args};
  TROVEX_ASSERT(prepared->chunks.fill <= PreparedSize);
  return MessageText{prepared->text, prepared->chunks.fill, format, args};
}

// The header as HeaderAfterOpenLine produces it ("%s" takes at most 65535
// characters), drafted before the lock: HeaderAtLineStart's form is the same
// text after its first character, the newline. The form a message uses must
// fit in HeaderSize bytes, or the destinations format it instead.
constexpr unsigned HeaderSize = 256;
constexpr size_t TextDirectiveLimit = 65535;

// The highest level among the letters wins: 'e' 3, 'w' 2, 'i' 1.
unsigned categoryLevel(const char* typeLetters) {
  unsigned level = 0;
  if (!typeLetters) return level;
  for (const char* p = typeLetters; *p; ++p) {
    if (*p == 'e') level = ErrorLevel;
    else if (*p == 'w' && level < 2) level = 2;
    else if (*p == 'i' && level < 1) level = 1;
  }
  return level;
}

struct HeaderDraft {
  bool due;                   // the message has category letters and an id, so a header unless it continues a line
  unsigned level;
  const char* label;
  const char* idText;         // the id, or "" for none
  char text[HeaderSize + 1];  // "\nlabel<id>: "
  unsigned length;            // of text; 0 when not drafted or too long for either form
};

constexpr size_t LongestLabel = [] {
  size_t longest = 0;
  for (const char* label : CategoryLabels)
    if (std::char_traits<char>::length(label) > longest) longest = std::char_traits<char>::length(label);
  return longest;
}();

// Identifiers are mostly a few characters, copied as they are counted; a
// longer one is counted and copied by the C library.
constexpr unsigned ShortId = 16;

void draftHeader(HeaderDraft* draft, const char* typeLetters, const char* id) {
  draft->level = categoryLevel(typeLetters);
  draft->label = CategoryLabels[draft->level];
  draft->idText = id ? id : "";
  draft->length = 0;
  draft->due = typeLetters && id;
  if (!draft->due) return;
  // A label and a short identifier always fit.
  static_assert(1 + LongestLabel + 1 + ShortId + sizeof HeaderIdClose - 1 <= sizeof draft->text,
                "room for a short header");
  char* p = draft->text;
  *p++ = '\n';
  for (const char* label = draft->label; *label; ++label) *p++ = *label;
  *p++ = HeaderIdOpen;
  size_t idLength = 0;
  for (; idLength < ShortId && id[idLength] != '\0'; ++idLength) p[idLength] = id[idLength];
  if (idLength == ShortId && id[ShortId] != '\0') {
    idLength = ShortId + strnlen(id + ShortId, TextDirectiveLimit - ShortId);
    if (static_cast<size_t>(p - draft->text) + idLength + sizeof HeaderIdClose - 1 > sizeof draft->text) return;
    std::memcpy(p + ShortId, id + ShortId, idLength - ShortId);
  }
  p += idLength;
  std::memcpy(p, HeaderIdClose, sizeof HeaderIdClose - 1);
  p += sizeof HeaderIdClose - 1;
  TROVEX_ASSERT(p <= draft->text + sizeof draft->text);
  draft->length = static_cast<unsigned>(p - draft->text);
}

// The header of the form the line state asks for, as drafted text when it fits.
MessageText headerText(const HeaderDraft& draft, bool atLineStart) {
  const unsigned skip = atLineStart ? 1 : 0;
  if (draft.length == 0 || draft.length - skip > HeaderSize)
    return MessageText{nullptr, 0, atLineStart ? HeaderAtLineStart : HeaderAfterOpenLine, nullptr};
  // A drafted header holds at least its newline, its label's brackets and ": ".
  TROVEX_ASSERT(draft.length > skip + 2 && draft.text[0] == '\n');
  return MessageText{draft.text + skip, draft.length - skip, nullptr, nullptr};
}

// end: the format's terminating zero.
bool endsWithNewline(const char* format, const char* end) { return end != format && end[-1] == '\n'; }

// The destinations in their order. Variadic: a header too long to build is
// formatted by each destination from this call's own arguments, label and id.
// The protocol file is opened after the channel has its text: a channel that
// waits for its own file or pipe then never holds the protocol file, which
// hosts that share it wait for.
void runDestinations(OutputContext* context, const Destinations& destinations, bool keepOpen,
                     PreparedMessage* message, ...) {
  va_list headerArgs;
  va_start(headerArgs, message);
  if (message->headerDue && !message->header.text) message->header.args = &headerArgs;
  if (destinations.channel) deliverToChannel(*message);
  ProtocolTurn turn(destinations.protocol ? context->protocol : nullptr);
  if (destinations.callback) deliverToCallback(destinations.callback, message->label, message->id, message->body);
  if (destinations.protocol) turn.deliver(*message, keepOpen);
  va_end(headerArgs);
}

// One message that passed the filter, under the lock: the header's form
// decided once, the destinations, the line state.
void deliver(OutputContext* context, const Destinations& destinations, const HeaderDraft& draft, bool endsLine,
             const MessageText& body, unsigned flags) {
  // Taken, not read: a message the callback emits does not continue the line
  // too. Every write is under the lock, so a load and a store do it without
  // a locked exchange, and the store only when there is one.
  const bool continuing = context->continuation.load(std::memory_order_relaxed) != 0;
  if (continuing) context->continuation.store(0, std::memory_order_relaxed);
  const bool atLineStart = context->atLineStart;

  // Every field given: a cleared record would be a block store first.
  const bool headerDue = draft.due && !continuing;
  PreparedMessage message{headerDue,
                          headerDue ? headerText(draft, atLineStart) : MessageText{nullptr, 0, nullptr, nullptr},
                          continuing ? nullptr : draft.label,
                          continuing ? nullptr : draft.idText,
                          body,
                          draft.level == ErrorLevel};
  runDestinations(context, destinations, (flags & KeepOpen) != 0, &message, draft.label, draft.idText);

  // The format is examined, not the produced text.
  context->atLineStart = !continuing && endsLine;
  if (flags & ContinuesLine) context->continuation.store(1, std::memory_order_relaxed);
}

}  // namespace

void initOutputContext(OutputContext* context, MessageFilter* filter, ProtocolFile* protocol) {
  InitializeCriticalSectionAndSpinCount(&context->lock, MessageLockSpins);
  context->filter = filter;
  context->protocol = protocol;
  context->callback = nullptr;
  context->channelEnabled = true;
  context->protocolEnabled = true;
  context->lists.includeIds[0] = '\0';
  context->lists.excludeIds[0] = '\0';
  // Not the filter's version: the first message that needs the lists copies them.
  context->listsVersion = filter->listsVersion.load(std::memory_order_relaxed) - 1;
  context->atLineStart = 0;
  context->continuation = 0;
  context->live.store(true, std::memory_order_release);
}

void destroyOutputContext(OutputContext* context) {
  if (!context->live.load(std::memory_order_relaxed)) return;
  EnterCriticalSection(&context->lock);
  context->live.store(false, std::memory_order_relaxed);
  // Text of keep-open messages still buffered reaches the file.
  closeProtocolFile(context->protocol);
  LeaveCriticalSection(&context->lock);
  DeleteCriticalSection(&context->lock);
}

MessageLockHold::MessageLockHold(OutputContext* context)
    : context_(context), entered_(context->live.load(std::memory_order_relaxed)), live_(false) {
  if (!entered_) return;
  EnterCriticalSection(&context_->lock);
  // Teardown may have come first while this thread waited.
  live_ = context_->live.load(std::memory_order_relaxed);
}

MessageLockHold::~MessageLockHold() {
  if (entered_) LeaveCriticalSection(&context_->lock);
}

int emitCheckedMessage(OutputContext* context, bool categoryPassed, const char* typeLetters, const char* id,
                       const char* format, va_list* args, unsigned flags) {
  if (!format) format = "";
  bool passes = categoryPassed;
  // The lists are matched under the lock, on emission's copy of them; the
  // arguments are not read until the message has passed.
  if (passes && id && context->filter->listsSet.load(std::memory_order_relaxed)) {
    MessageLockHold hold(context);
    if (!hold.live()) return 0;
    copyListsIfChanged(context->filter, &context->lists, &context->listsVersion);
    passes = listsPass(&context->lists, id);
    if (!passes) {
      context->continuation.store(0, std::memory_order_relaxed);
      return 1;
    }
  }
  if (!passes) {
    MessageLockHold hold(context);
    if (!hold.live()) return 0;
    context->continuation.store(0, std::memory_order_relaxed);
    return 1;
  }

  const Destinations destinations = readDestinations(context);
  // Produced outside the lock, so that other threads' messages need not wait
  // for it; with no destination on nothing is formatted. So is the header,
  // but for its first character, which the line state decides.
  PreparedBody prepared;
  const char* formatEnd = nullptr;
  const MessageText body = destinations.any() ? prepareBody(&prepared, format, args, &formatEnd)
                                              : MessageText{nullptr, 0, format, args};
  if (!formatEnd) formatEnd = format + std::strlen(format);
  TROVEX_ASSERT(*formatEnd == '\0');
  HeaderDraft draft;
  draftHeader(&draft, typeLetters, id);
  const bool endsLine = endsWithNewline(format, formatEnd);
  MessageLockHold hold(context);
  if (!hold.live()) return 0;
  deliver(context, destinations, draft, endsLine, body, flags);
  return 1;
}

void setCallback(OutputContext* context, MessageCallback callback) {
  context->callback.store(callback, std::memory_order_relaxed);
}

void setChannelEnabled(OutputContext* context, bool on) { context->channelEnabled.store(on, std::memory_order_relaxed); }

void setProtocolEnabled(OutputContext* context, bool on) {
  context->protocolEnabled.store(on, std::memory_order_relaxed);
}

}  // namespace trovex
