// Output functions that take runs of plain characters at once see exactly
// the text that per-character output sees.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include "support.h"

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

// Formats are parsed once and kept by address: a kept form is used only while
// the text at that address is the same, and formats the cache cannot keep
// (long, many directives, past its room, at a reused address) run the same.
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
  // Each format in turn in the same buffer, at three alignments:
  // the form kept for the text before must not be used for the text after.
  char storage[520];
  for (size_t offset : {0u, 1u, 3u})
    for (const auto& c : cases) {
      char* const buffer = storage + offset;
      std::strcpy(buffer, c.format.c_str());
      const bool textFirst = c.format.find("%s") < c.format.find("%d");
      EXPECT_EQ(textFirst ? formatted(buffer, "z", 7) : formatted(buffer, 7, "z"), c.expected) << c.format.substr(0, 24);
    }
}

// A format that ends at the end of a readable page, before one that is not:
// checking it against a kept copy reads nothing past that page.
TEST(FormatCache, AFormatAtTheEndOfAPageIsReadNoFurther) {
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
  const struct {
    const char *format, *expected;
  } cases[] = {{"%d", "7"},     {"x%d", "x7"}, {"ab%d", "ab7"}, {"abc%d", "abc7"}, {"abcdefgh%d", "abcdefgh7"},
               {"%d%d", "77"}, {"abcdefghijk%d", "abcdefghijk7"}};
  for (const auto& c : cases) {
    const size_t size = std::strlen(c.format) + 1;
    char* const at = pages + page - size;
    std::memcpy(at, c.format, size);
    // Kept at the first run, checked against the copy at the second.
    for (int run = 0; run < 2; ++run) EXPECT_EQ(formatted(at, 7, 7), c.expected) << c.format;
  }
#ifdef _WIN32
  VirtualFree(pages, 0, MEM_RELEASE);
#else
  munmap(pages, 2 * page);
#endif
}

}  // namespace
