// The parsed forms of the formats a host uses. Hosts pass literal formats,
// so a format's address finds its parsed form; the text kept beside it is
// compared with the host's before every use, so a buffer that now holds
// another format is parsed afresh. Entries are written once, before they are
// published, and never changed or freed: threads read them without a lock.
// The cache is bounded; a format it cannot keep is parsed as it runs.
#include <atomic>
#include <cstring>

#include "common/contract.h"
#include "format/steps.h"
#include "format/words.h"

namespace trovex {

namespace {

constexpr unsigned PoolSize = ParsedFormat::PoolSize;
constexpr unsigned TableSize = ParsedFormat::TableSize;
constexpr unsigned Probes = 4;       // slots tried after a format's first

ParsedFormat pool[PoolSize];
std::atomic<unsigned> poolUsed{0};
std::atomic<const ParsedFormat*> table[TableSize];

static_assert(TableSize == 256, "homeSlot takes 8 bits");

// Parses the format into a pool entry of its own, if it fits and the pool
// has room; the caller publishes it in a slot.
ParsedFormat* newEntry(const char* format) {
  // A full pool is seen before any work, so a cache that is full costs a
  // format it cannot keep no parse of its own.
  if (poolUsed.load(std::memory_order_relaxed) >= PoolSize) return nullptr;
  const size_t length = strnlen(format, ParsedFormat::MaxText + 1);
  if (length > ParsedFormat::MaxText) return nullptr;
  ParsedFormat parsed{};  // zeros past the text too, for holdsKeptText
  std::memcpy(parsed.text, format, length + 1);
  const char* end = parseSteps(parsed.text, parsed.text, parsed.steps, ParsedFormat::MaxSteps, &parsed.stepCount);
  if (*end != '\0') return nullptr;
  TROVEX_ASSERT(parsed.stepCount <= ParsedFormat::MaxSteps);
  for (unsigned i = 0; i < parsed.stepCount; ++i) {
    const FormatStep& step = parsed.steps[i];
    TROVEX_ASSERT(step.textStart + step.textLength <= length);
    // A directive's letter follows its plain text; only a text-only step has none.
    TROVEX_ASSERT(step.letter == NoDirective || (step.letter < length && step.letter > step.textStart + step.textLength));
    TROVEX_ASSERT((step.kind == StepKind::TextOnly) == (step.letter == NoDirective));
  }
  const unsigned index = poolUsed.fetch_add(1, std::memory_order_relaxed);
  if (index >= PoolSize) return nullptr;
  ParsedFormat* entry = &pool[index];
  *entry = parsed;
  entry->address = format;
  entry->length = static_cast<unsigned>(length);
  return entry;
}

// The host's format holds the kept text: compared a word at a time. No read
// of the host's text crosses into a page the text does not reach: the first
// word is read where it stays in the text's first page, the rest aligned. A
// read may pass the text's terminating zero within a word (hence no address
// checks here); the kept text has a word of zeros past its own.
static_assert(sizeof(ParsedFormat{}.text) >= ParsedFormat::MaxText + 1 + sizeof(Word), "room to read a word past the zero");

// 1: the texts are the same (the host's zero comes before any difference);
// 0: they differ; -1: the words are the same and hold no zero. The lowest
// bit the zero test sets is exact; higher ones may not be.
inline int compareWords(Word host, Word kept) {
  const Word zeros = bytesBelow<1>(host);
  const Word differences = host ^ kept;
  if (differences == 0) return zeros == 0 ? -1 : 1;
  if (zeros == 0) return 0;
  return __builtin_ctzll(zeros) < __builtin_ctzll(differences) ? 1 : 0;
}

bool holdsKeptText(const char* host, const char* kept) {
  size_t at = 0;
  if (wordStaysInPage(host)) {
    const int result = compareWords(readWord(host), readWord(kept));
    if (result >= 0) return result != 0;
    at = sizeof(Word) - reinterpret_cast<uintptr_t>(host) % sizeof(Word);
  } else {
    for (; reinterpret_cast<uintptr_t>(host + at) % sizeof(Word) != 0; ++at) {
      if (host[at] != kept[at]) return false;
      if (host[at] == '\0') return true;
    }
  }
  for (;; at += sizeof(Word)) {
    const int result = compareWords(readWord(host + at), readWord(kept + at));
    if (result >= 0) return result != 0;
  }
}

}  // namespace

unsigned homeSlot(const char* format) {
  const uint64_t address = reinterpret_cast<uintptr_t>(format);
  const uint32_t folded = static_cast<uint32_t>(address ^ (address >> 32));
  return (folded * 0x9E3779B9u) >> 24;  // the top 8 bits
}

// A format is kept in the first empty slot of its probes. A thread that
// loses a slot to another goes on to the next with the entry it parsed, so
// the entry stays findable and the format is not parsed and kept again. When
// every slot of its probes is taken, the cache has no room for it: null, as
// for any format not kept, so that an entry handed out is always one that
// later runs find again. The entry it parsed stays unused.
const ParsedFormat* parsedFormat(const char* format) {
  const unsigned home = homeSlot(format);
  ParsedFormat* mine = nullptr;  // parsed by this call, not yet in a slot
  for (unsigned i = 0; i <= Probes; ++i) {
    std::atomic<const ParsedFormat*>& slot = table[(home + i) % TableSize];
    const ParsedFormat* entry = slot.load(std::memory_order_acquire);
    if (!entry) {
      if (!mine) mine = newEntry(format);
      if (!mine) return nullptr;
      if (slot.compare_exchange_strong(entry, mine, std::memory_order_release, std::memory_order_acquire)) return mine;
    }
    // Published whole: every field was written before the entry was.
    TROVEX_ASSERT(entry->address && entry->length <= ParsedFormat::MaxText && entry->text[entry->length] == '\0' &&
                  entry->stepCount <= ParsedFormat::MaxSteps);
    if (entry->address == format) return holdsKeptText(format, entry->text) ? entry : nullptr;
  }
  return nullptr;
}

}  // namespace trovex
