// Output functions that take runs of plain characters at once see exactly
// the text that per-character output sees.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/mman.h>
#endif

#include "format/steps.h"
#include "format/words.h"
#include "support.h"

namespace trovex {

namespace {

struct RunOutput {
  std::string text;
  unsigned runs = 0;
};

void appendChar(FormatSink* sink) { static_cast<RunOutput*>(sink->state)->text.push_back(sink->ch); }

void appendRun(FormatSink* sink, const char* text, unsigned count) {
  RunOutput* out = static_cast<RunOutput*>(sink->state);
  out->text.append(text, count);
  ++out->runs;
}

RunOutput formattedInRuns(const char* format, va_list* args) {
  RunOutput out;
  FormatSink sink;
  beginFormatRun(&sink, format, args, appendChar, &out);
  sink.putRun = appendRun;
  formatToSink(&sink);
  endFormatRun(&sink);
  return out;
}

RunOutput formattedInRuns(const char* format, ...) {
  va_list args;
  va_start(args, format);
  RunOutput out = formattedInRuns(format, &args);
  va_end(args);
  return out;
}

TEST(FormatRuns, RunsGiveTheSameTextAsSingleCharacters) {
  const struct {
    const char* format;
    const char* text;
  } cases[] = {
      {"plain text", "x"}, {"%s", "abc"},         {"<%5s>", "ab"},        {"<%-5s>", "ab"},
      {"<%.2s>", "abcdef"}, {"<%.0s>", "abc"},    {"%S|", "a\tb\n\"c"},   {"%#s", "q"},
      {"100%% %s!", "done"}, {"%s%s", nullptr},   {"a%", "x"},            {"%5%%s", "y"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formattedInRuns(c.format, c.text, c.text).text, formatted(c.format, c.text, c.text)) << c.format;
  }
  EXPECT_EQ(formattedInRuns("plain text").runs, 1u);
}

TEST(FormatRuns, WithoutArgumentsTheWholeFormatIsOneRun) {
  const RunOutput out = formattedInRuns("50% of %s", nullptr);
  EXPECT_EQ(out.text, "50% of %s");
  EXPECT_EQ(out.runs, 1u);
}

// Pieces as formatInPieces hands them out, each in an array of exactly the
// piece size, so that AddressSanitizer sees a write past it.
struct Pieces {
  std::string text;
  bool shortBeforeLast = false;  // a piece before the last was not full
  unsigned count = 0;
};

Pieces inPieces(uint16_t size, const char* format, ...) {
  Pieces out;
  struct Collect {
    Pieces* out;
    uint16_t size;
  } collect{&out, size};
  const PiecePut put = [](void* owner, const char* text, unsigned count) {
    Collect* c = static_cast<Collect*>(owner);
    if (c->out->count > 0 && c->out->text.size() % c->size != 0) c->out->shortBeforeLast = true;
    c->out->text.append(text, count);
    ++c->out->count;
  };
  std::vector<char> array(size);
  va_list args;
  va_start(args, format);
  formatInPieces(format, &args, array.data(), size, put, &collect);
  va_end(args);
  return out;
}

// Text in pieces of any size joins to the per-character text, every piece
// full but the last: escaped runs, fields and numbers that cross a piece's end.
TEST(FormatRuns, PiecesOfAnySizeJoinToTheSameText) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += std::string(static_cast<size_t>(i % 7), 'a') + "\\t\"q";
  text[text.size() / 2] = '\t';
  const char* const formats[] = {"%S", "[%S]", "%s|%5d", "%60S|", "%-60S|", "%.50S", "%#S %5d %LU", "%.40P|%200d"};
  for (const uint16_t size : {1, 2, 3, 7, 16, 96, 1000})
    for (const char* format : formats) {
      const Pieces out = inPieces(size, format, text.c_str(), 1234, 567890123456ull);
      EXPECT_EQ(out.text, formatted(format, text.c_str(), 1234, 567890123456ull)) << size << " " << format;
      EXPECT_FALSE(out.shortBeforeLast) << size << " " << format;
    }
}

#if defined(TROVEX_CONTRACTS)
// Values under which a helper would loop forever or compute nothing
// defined stop the process instead.
TEST(FormatContracts, BrokenPreconditionsStopTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const PiecePut ignore = [](void*, const char*, unsigned) {};
  char piece[4];
  const struct {
    const char* what;
    std::function<void()> run;
  } rows[] = {
      {"pieces of no size", [&] { handOutInPieces("abc", 3, 0, ignore, nullptr); }},
      {"an array of no size", [&] { formatInPieces("abc", nullptr, piece, 0, ignore, nullptr); }},
      {"no marked byte", [] { (void)firstMarkedByte(0); }},
  };
  for (const auto& row : rows) EXPECT_DEATH(row.run(), "contract broken") << row.what;
}
#endif

// The cache of parsed formats, from the empty pool of a process of its own
// (ctest runs FormatCache.* apart). Its tests run in the order written here:
// the first one needs the slots after its format's first one empty, which
// the formats that later tests keep may fill; the last one fills the pool.

#ifndef _WIN32
// Two formats whose first slot is the same, the second one's first run
// forced to lose that slot to the first: its text lies in a page that
// cannot be read yet, so its parse faults after it saw the slot empty, and
// the fault handler keeps the first format there before the parse goes on.
// The run that lost the slot keeps its entry in the next one, where a
// later run of the same format finds it.
struct SlotRace {
  char* page;           // the losing format's page, unreadable until the fault
  const char* winner;   // a format of the same first slot
  const ParsedFormat* winnerKept;
};
SlotRace slotRace;

void takeTheSlotFirst(int, siginfo_t*, void*) {
  mprotect(slotRace.page, 4096, PROT_READ | PROT_WRITE);
  slotRace.winnerKept = parsedFormat(slotRace.winner);
}

TEST(FormatCache, TheRunThatLosesItsSlotKeepsItsEntryInTheNext) {
  const size_t page = 4096;
  char* const loser = static_cast<char*>(mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(loser, MAP_FAILED);
  std::strcpy(loser, "lost its slot %d");
  static char winners[4096][64];  // one of them has the same first slot
  char* winner = nullptr;
  for (auto& candidate : winners)
    if (homeSlot(candidate) == homeSlot(loser)) winner = candidate;
  ASSERT_NE(winner, nullptr);
  std::strcpy(winner, "took the slot %d");
  slotRace = SlotRace{loser, winner, nullptr};
  struct sigaction onFault {}, previous{};
  onFault.sa_sigaction = takeTheSlotFirst;
  onFault.sa_flags = SA_SIGINFO;
  ASSERT_EQ(sigaction(SIGSEGV, &onFault, &previous), 0);
  ASSERT_EQ(mprotect(loser, page, PROT_NONE), 0);
  const ParsedFormat* const loserKept = parsedFormat(loser);
  sigaction(SIGSEGV, &previous, nullptr);
  ASSERT_NE(slotRace.winnerKept, nullptr) << "the parse did not fault: no race";
  ASSERT_NE(loserKept, nullptr);
  EXPECT_NE(loserKept, slotRace.winnerKept);
  EXPECT_EQ(parsedFormat(loser), loserKept);
  EXPECT_EQ(parsedFormat(winner), slotRace.winnerKept);
  EXPECT_EQ(formatted(loser, 7), "lost its slot 7");
  munmap(loser, page);
}
#endif

// A kept format whose first byte is 1 to 8 bytes before an unreadable page:
// checking a text there against its kept copy reads nothing past the page,
// whether the text is the kept one or shorter. Nor does the scan of "%S"
// text, which reads a word at a time, for a text whose zero is the page's
// last byte.
TEST(FormatCache, KeptFormatsAndEscapedTextJustBeforeAnUnreadablePage) {
  // Two pages, the second unreadable.
  const size_t page = 4096;
#ifdef _WIN32
  char* pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD previous;
  ASSERT_TRUE(pages && VirtualProtect(pages + page, page, PAGE_NOACCESS, &previous));
#else
  char* pages = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
#endif
  // Texts of 0 to 7 characters; the shorter ones leave readable bytes after their zero.
  const char* const texts[] = {"", "a", "%d", "a%d", "ab%d", "abc%d", "abcd%d", "abcde%d"};
  const char* const expected[] = {"", "a", "7", "a7", "ab7", "abc7", "abcd7", "abcde7"};
  for (size_t span = 1; span <= 8; ++span) {
    char* const at = pages + page - span;
    std::memcpy(at, texts[span - 1], span);
    const ParsedFormat* kept = parsedFormat(at);
    ASSERT_NE(kept, nullptr) << span;
    EXPECT_EQ(parsedFormat(at), kept) << span;
    EXPECT_EQ(formatted(at, 7), expected[span - 1]) << span;
    for (size_t shorter = 0; shorter + 1 < span; ++shorter) {
      std::memset(at, 'z', span);
      std::memcpy(at, texts[shorter], shorter + 1);
      EXPECT_EQ(parsedFormat(at), nullptr) << span << " " << shorter;
      EXPECT_EQ(formatted(at, 7), expected[shorter]) << span << " " << shorter;
    }
  }
  for (size_t span = 1; span <= 2 * sizeof(void*) + 1; ++span) {
    char* const at = pages + page - span;
    std::string text(span - 1, 'a'), escaped;
    for (size_t i = 0; i < text.size(); i += 3) text[i] = '\\';
    for (const char c : text) escaped += c == '\\' ? "\\\\" : std::string(1, c);
    std::memcpy(at, text.c_str(), span);
    EXPECT_EQ(formatted("%S", at), escaped) << span;
  }
#ifdef _WIN32
  VirtualFree(pages, 0, MEM_RELEASE);
#else
  munmap(pages, 2 * page);
#endif
}

// The text at a kept address differs from the kept one in a single byte, at
// every position and alignment (so in the first, second or third word), or
// right at the kept text's zero: it runs as written. Bytes past the zero
// are not the text, so a difference there keeps the kept form.
TEST(FormatCache, AKeptAddressThatNowHoldsOtherText) {
  const std::string kept = "abcdefg%d|ijklmn%s|qrstuv";  // 26 characters: three words and more
  alignas(8) char storage[4][64];
  for (size_t offset = 0; offset < 4; ++offset) {
    char* const at = storage[offset] + offset * 3 % 8;  // alignments 0, 3, 6, 1
    std::memset(storage[offset], 0, sizeof storage[offset]);
    std::memcpy(at, kept.c_str(), kept.size() + 1);
    const ParsedFormat* entry = parsedFormat(at);
    ASSERT_NE(entry, nullptr) << offset;
    // The directives stay, so the arguments still match.
    const auto expectedOf = [](std::string text) {
      text.replace(text.find("%d"), 2, "7");
      text.replace(text.find("%s"), 2, "s");
      return text;
    };
    for (size_t i = 0; i < kept.size(); ++i) {
      if (kept[i] == '%' || (i > 0 && kept[i - 1] == '%')) continue;
      std::string other = kept;
      other[i] = 'Q';
      std::memcpy(at, other.c_str(), other.size() + 1);
      EXPECT_EQ(parsedFormat(at), nullptr) << offset << " " << i;
      EXPECT_EQ(formatted(at, 7, "s"), expectedOf(other));
    }
    for (const std::string& other : {kept + "x", kept.substr(0, kept.size() - 1)}) {
      std::memcpy(at, other.c_str(), other.size() + 1);
      EXPECT_EQ(parsedFormat(at), nullptr) << other;
      EXPECT_EQ(formatted(at, 7, "s"), expectedOf(other));
    }
    std::memcpy(at, kept.c_str(), kept.size() + 1);
    std::memset(at + kept.size() + 1, 'x', 16);
    EXPECT_EQ(parsedFormat(at), entry) << offset;
    EXPECT_EQ(formatted(at, 7, "s"), "abcdefg7|ijklmns|qrstuv");
  }
}

// The bounds of what is kept: 191 characters and 12 steps.
TEST(FormatCache, FormatsTooLongOrWithTooManyDirectivesRunUnkept) {
  std::string twelve, twelveExpected;
  for (int i = 0; i < 12; ++i) twelve += "%d", twelveExpected += "7";
  const struct {
    std::string format;
    bool kept;
  } rows[] = {
      {std::string(189, 'x') + "%d", true},  {std::string(190, 'x') + "%d", false},
      {twelve, true},                        {twelve + "x", false},  // a text step after the twelfth
      {twelve + "%d", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(parsedFormat(row.format.c_str()) != nullptr, row.kept) << row.format.size();
    std::string expected = row.format;
    for (size_t at; (at = expected.find("%d")) != std::string::npos;) expected.replace(at, 2, "7");
    EXPECT_EQ(formatted(row.format.c_str(), 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7), expected);
  }
}

// Each format in turn in the same buffer, at three alignments: the form kept
// for the text before must not be used for the text after.
TEST(FormatCache, EveryFormatRunsAsWrittenWhereverItLives) {
  std::string many, manyExpected;
  for (int i = 0; i < 20; ++i) many += "<%%>", manyExpected += "<%>";
  const std::string longText(300, 'x');
  const struct {
    std::string format, expected;
  } cases[] = {
      {"a%d|%s", "a7|z"}, {"%s|%d", "z|7"}, {"%s|%d!", "z|7!"}, {"%s|%d", "z|7"}, {"%s|%i", "z|7"},
      {"%5d%%", "    7%"}, {"plain", "plain"}, {"a%", "a"},
      {many, manyExpected}, {longText + "%d", longText + "7"}, {longText + "%s", longText + "z"},
  };
  char storage[520];
  for (size_t offset : {0u, 1u, 3u})
    for (const auto& c : cases) {
      char* const buffer = storage + offset;
      std::strcpy(buffer, c.format.c_str());
      const bool textFirst = c.format.find("%s") < c.format.find("%d");
      EXPECT_EQ(textFirst ? formatted(buffer, "z", 7) : formatted(buffer, 7, "z"), c.expected) << c.format.substr(0, 24);
    }
}

// Four threads keep formats at addresses of their own until the pool is
// full: each runs as its own text, every format kept is found again in the
// entry its first run kept, no entry is handed out twice, and a format that
// comes after runs unkept. Runs last: the pool stays full.
TEST(FormatCache, FourThreadsFillThePool) {
  constexpr unsigned Threads = 4, PerThread = 512;
  static char texts[Threads][PerThread][8];
  static const ParsedFormat* entries[Threads][PerThread];
  std::atomic<bool> wrong{false};
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < Threads; ++t)
    threads.emplace_back([&, t] {
      for (unsigned i = 0; i < PerThread; ++i) {
        char* const text = texts[t][i];
        std::snprintf(text, sizeof texts[t][i], "%u%%d", t * PerThread + i);
        entries[t][i] = parsedFormat(text);
        if (formatted(text, 7) != std::to_string(t * PerThread + i) + "7") wrong = true;
      }
    });
  for (std::thread& thread : threads) thread.join();
  std::set<const ParsedFormat*> kept;
  for (unsigned t = 0; t < Threads; ++t)
    for (unsigned i = 0; i < PerThread; ++i)
      if (entries[t][i]) {
        EXPECT_TRUE(kept.insert(entries[t][i]).second) << texts[t][i];
        EXPECT_EQ(parsedFormat(texts[t][i]), entries[t][i]) << texts[t][i];
      }
  EXPECT_FALSE(kept.empty());
  EXPECT_LE(kept.size(), ParsedFormat::PoolSize);
  EXPECT_FALSE(wrong.load());
  char later[] = "later %d";
  EXPECT_EQ(parsedFormat(later), nullptr);
  EXPECT_EQ(formatted(later, 7), "later 7");
}

}  // namespace

}  // namespace trovex
