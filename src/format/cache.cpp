// The parsed forms of the formats a host uses. Hosts pass literal formats,
// so a format's address finds its parsed form; the text kept beside it is
// compared with the host's before every use, so a buffer that now holds
// another format is parsed afresh. Entries are written once, before they are
// published, and never changed or freed: threads read them without a lock.
// The cache is bounded; a format it cannot keep is parsed as it runs.
#include <atomic>
#include <cstring>

#include "format/steps.h"

namespace {

constexpr unsigned PoolSize = 128;
constexpr unsigned TableSize = 256;  // a power of two
constexpr unsigned Probes = 4;       // slots tried after a format's first

ParsedFormat pool[PoolSize];
std::atomic<unsigned> poolUsed{0};
std::atomic<const ParsedFormat*> table[TableSize];

unsigned homeSlot(const char* format) {
  const uint64_t address = reinterpret_cast<uintptr_t>(format);
  const uint32_t folded = static_cast<uint32_t>(address ^ (address >> 32));
  return (folded * 0x9E3779B9u) >> 24;  // the top 8 bits: TableSize slots
}
static_assert(TableSize == 256, "homeSlot takes 8 bits");

// Parses the format and keeps it in the empty slot, if it fits and the pool
// has room. Two threads may race for the slot; the loser runs from its own
// entry this once.
const ParsedFormat* keep(const char* format, std::atomic<const ParsedFormat*>& slot) {
  const size_t length = strnlen(format, ParsedFormat::MaxText + 1);
  if (length > ParsedFormat::MaxText) return nullptr;
  ParsedFormat parsed{};  // zeros past the text too, for holdsKeptText
  std::memcpy(parsed.text, format, length + 1);
  const char* end = parseSteps(parsed.text, parsed.text, parsed.steps, ParsedFormat::MaxSteps, &parsed.stepCount);
  if (*end != '\0') return nullptr;
  if (poolUsed.load(std::memory_order_relaxed) >= PoolSize) return nullptr;
  const unsigned index = poolUsed.fetch_add(1, std::memory_order_relaxed);
  if (index >= PoolSize) return nullptr;
  ParsedFormat* entry = &pool[index];
  *entry = parsed;
  entry->address = format;
  entry->length = static_cast<unsigned>(length);
  const ParsedFormat* empty = nullptr;
  slot.compare_exchange_strong(empty, entry, std::memory_order_release, std::memory_order_relaxed);
  return entry;
}

// The host's format holds the kept text: compared a word at a time. The
// host's words are read aligned, so no read crosses into a page the text does
// not reach, though one may read past its terminating zero within its last
// word (hence no address checks here); the kept text has room for a word
// past its zero.
using Word = uintptr_t;
static_assert(sizeof(ParsedFormat{}.text) >= ParsedFormat::MaxText + 1 + sizeof(Word), "room to read a word past the zero");

inline bool hasZeroByte(Word word) {
  constexpr Word ones = ~Word{0} / 0xFF;
  return ((word - ones) & ~word & (ones << 7)) != 0;
}

[[gnu::no_sanitize_address]] bool holdsKeptText(const char* host, const char* kept) {
  for (; reinterpret_cast<uintptr_t>(host) % sizeof(Word) != 0; ++host, ++kept) {
    if (*host != *kept) return false;
    if (*host == '\0') return true;
  }
  for (;; host += sizeof(Word), kept += sizeof(Word)) {
    Word hostWord, keptWord;
    std::memcpy(&hostWord, host, sizeof hostWord);
    std::memcpy(&keptWord, kept, sizeof keptWord);
    if (hostWord != keptWord) break;
    if (hasZeroByte(hostWord)) return true;
  }
  // The words differ: the texts are the same if a zero comes first.
  for (;; ++host, ++kept) {
    if (*host != *kept) return false;
    if (*host == '\0') return true;
  }
}

}  // namespace

const ParsedFormat* parsedFormat(const char* format) {
  const unsigned home = homeSlot(format);
  for (unsigned i = 0; i <= Probes; ++i) {
    std::atomic<const ParsedFormat*>& slot = table[(home + i) % TableSize];
    const ParsedFormat* entry = slot.load(std::memory_order_acquire);
    if (!entry) return keep(format, slot);
    if (entry->address == format) return holdsKeptText(format, entry->text) ? entry : nullptr;
  }
  return nullptr;
}
