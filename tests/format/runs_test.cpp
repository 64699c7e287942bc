// Output functions that take runs of plain characters at once see exactly
// the text that per-character output sees.
#include <gtest/gtest.h>

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

}  // namespace
