// The message filter: category switches, identifier lists, pattern syntax,
// case folding, the fixed-size cuts, and messages filtered through the exports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message_path.h"
#include "filter/filter.h"
#include "protocol/protocol.h"
#include "reference_matcher.h"

namespace trovex {

namespace {

struct SwitchCase {
  int warn, error, init;
  const char* letters;  // null: no category letters
  bool passes;
};

TEST(FilterSwitches, SomeLetterMustNameASwitchedOnCategory) {
  const SwitchCase cases[] = {
      {1, 1, 1, "e", true},     {1, 1, 1, "w", true},   {1, 1, 1, "i", true},
      {1, 1, 1, "ewi", true},   {1, 1, 1, "", false},   {1, 1, 1, "x", false},
      {1, 1, 1, "E", false},    {1, 1, 1, nullptr, true}, {1, 1, 1, "xyze", true},
      {1, 0, 0, "ew", true},    {1, 0, 0, "we", true},  {1, 0, 0, "e", false},
      {1, 0, 0, "i", false},    {1, 0, 0, nullptr, true}, {0, 0, 0, "ewi", false},
      {0, 0, 0, nullptr, true}, {0, -3, 0, "e", true},  {0, 0, 7, "wi", true},
      {0, 1, 0, "W", false},
  };
  for (const SwitchCase& c : cases) {
    MessageFilter filter;
    initMessageFilter(&filter);
    filter.warnState = c.warn;
    filter.errorState = c.error;
    filter.initState = c.init;
    EXPECT_EQ(categoryPasses(&filter, c.letters), c.passes)
        << "w" << c.warn << " e" << c.error << " i" << c.init << " letters "
        << (c.letters ? c.letters : "(null)");
  }
}

struct ListCase {
  const char* include;
  const char* exclude;
  const char* id;  // null: no identifier
  bool passes;
};

TEST(FilterLists, ExcludeStopsFirstThenIncludeMustMatch) {
  const ListCase cases[] = {
      {"MOD*", "", "module", true},
      {"MOD*", "", "MODX", true},
      {"MOD*", "", "xmod", false},
      {"MOD*", "", nullptr, true},
      {"", "*debug*", "myDEBUGx", false},
      {"", "*debug*", "myINFO", true},
      {"my*", "*debug*", "myDEBUGx", false},
      {"my*", "*debug*", "myINFO", true},
      {"my*", "*debug*", "yourINFO", false},
      {"my*", "*debug*", nullptr, true},
      {"", "", "anything", true},
      {"", "", "", true},
  };
  for (const ListCase& c : cases) {
    MessageFilter filter;
    initMessageFilter(&filter);
    setIncludeIds(&filter, c.include);
    setExcludeIds(&filter, c.exclude);
    EXPECT_EQ(idPasses(&filter, c.id), c.passes)
        << "include {" << c.include << "} exclude {" << c.exclude << "} id "
        << (c.id ? c.id : "(null)");
  }
}

struct PatternCase {
  const char* pattern;
  const char* name;
  bool matches;
};

void expectListMatches(const PatternCase* cases, size_t count) {
  for (size_t i = 0; i < count; ++i)
    EXPECT_EQ(matchPatternList(cases[i].pattern, cases[i].name), cases[i].matches)
        << "list {" << cases[i].pattern << "} name {" << cases[i].name << "}";
}

void expectPatternMatches(const PatternCase* cases, size_t count) {
  for (size_t i = 0; i < count; ++i)
    EXPECT_EQ(matchPattern(cases[i].pattern, cases[i].name), cases[i].matches)
        << "pattern {" << cases[i].pattern << "} name {" << cases[i].name << "}";
}

TEST(FilterLists, SeparatorsSplitOnlyWhereNoBackslashStandsBefore) {
  const PatternCase cases[] = {
      {"a;b", "a", true},         {"a;b", "B", true},       {"a;b", "c", false},
      {"a; b", "b", false},       {"a; b", " b", true},     {"a\\;b", "a;b", true},
      {"a\\;b", "A;B", true},     {"a\\;b", "a", false},    {"a\\;b", "b", false},
      {"a;", "", true},           {"a;", "x", false},       {";", "", true},
      {";", "x", false},          {";a", "a", true},        {";a", "", true},
      {"a;;b", "", true},         {"x\\;;y", "y", true},    {"x\\;;y", "x;", true},
      {"a\\\\;b", "a\\;b", true}, {"a\\\\;b", "a\\", false}, {"*;", "anything", true},
      {"", "", true},             {"", "x", false},
  };
  expectListMatches(cases, sizeof cases / sizeof cases[0]);
}

TEST(FilterPatterns, StarsQuestionMarksAndEscapes) {
  const PatternCase cases[] = {
      {"", "", true},          {"", "a", false},          {"*", "", true},
      {"**b", "b", true},      {"*?", "", false},         {"*?", "x", true},
      {"?*?", "x", false},     {"*?*", "ab", true},       {"*??", "a", false},
      {"*??", "ab", true},     {"a*", "a", true},         {"*a", "", false},
      {"a*b*c", "aXbYc", true}, {"a*b*c", "aXbY", false}, {"*x*", "abxcd", true},
      {"?", "", false},        {"??", "a", false},        {"a?c", "abc", true},
      {"*\\;x", "a;x", true},  {"*\\;x", "ax", false},    {"\\;", ";", true},
      {"\\;", "\\;", false},   {"\\a", "\\a", true},      {"\\a", "a", false},
      {"\\A", "\\a", true},    {"a\\", "a\\", true},      {"a;b", "a;b", true},
      {"*a*a*b", "aaab", true}, {"*a*a*b", "aab", true},  {"*a*a*b", "ab", false},
  };
  expectPatternMatches(cases, sizeof cases / sizeof cases[0]);
}

TEST(FilterPatterns, SetsAndRanges) {
  const PatternCase cases[] = {
      {"[!a-c]x", "dx", true},     {"[!a-c]x", "Bx", false},  {"[a-]", "-", true},
      {"[a-]", "a", true},         {"[a-]", "b", false},      {"[]a]", "]", true},
      {"[]a]", "a", true},         {"[]a]", "b", false},      {"[^a]", "b", true},
      {"[^a]", "a", false},        {"[!]", "!", false},       {"[]", "]", false},
      {"[abc", "a", false},        {"[a-", "a", false},       {"[A-Z]", "q", true},
      {"[a-z]", "Q", true},        {"[z-a]", "m", false},     {"[\\]", "\\", true},
      {"[\\;]", ";", true},        {"[\\;]", "\\", true},     {"[--0]", "/", true},
      {"[a-]]", "-]", true},       {"[!a-]", "-", false},     {"[a]", "", false},
      {"[a-c][x-z]", "BY", true},  {"*[0-9]", "abc7", true},  {"*[0-9]", "abc", false},
      // Bounds compare as signed bytes: 0x80-0xFF order below ASCII.
      {"[a-\xE4]", "b", false},    {"[a-\xE4]", "\xE4", false}, {"[\xE0-\x7F]", "a", true},
      {"[\xE0-\x7F]", "\xF0", true}, {"[\xE0-\x7F]", "\x80", false},
  };
  expectPatternMatches(cases, sizeof cases / sizeof cases[0]);
}

TEST(FilterPatterns, FoldsAsciiAndWindows1252Letters) {
  const PatternCase cases[] = {
      {"abc", "ABC", true},         {"ABC", "abc", true},          {"\xC4", "\xE4", true},
      {"\xE4", "\xC4", true},       {"[\xC0-\xD6]", "\xE4", true}, {"[\xC0-\xD6]", "\xC4", true},
      {"[\xC0-\xD6]", "\xD7", false}, {"[\xD8-\xDE]", "\xF8", true}, {"\xD7", "\xF7", false},
      {"\xDF", "\xFF", false},      {"\xFF", "\xDF", false},       {"\xDE", "\xFE", true},
      {"*\xC4*", "x\xE4y", true},   {"@", "`", false},             {"]", "}", false},
  };
  expectPatternMatches(cases, sizeof cases / sizeof cases[0]);

  for (unsigned c = 0; c < 256; ++c)
    EXPECT_EQ(foldTable[c], reference::fold(static_cast<unsigned char>(c))) << "byte " << c;
  EXPECT_EQ(foldTable['M'], 'm');
  EXPECT_EQ(foldTable[0xC0], 0xE0);
  EXPECT_EQ(foldTable[0xD7], 0xD7);
  EXPECT_EQ(foldTable[0xDF], 0xDF);
  EXPECT_EQ(foldTable[0xFF], 0xFF);
}

// With backtracking by recursion this pattern takes far longer than any test
// run against a long identifier; here it must finish, with the right answers.
TEST(FilterPatterns, ManyStarsAgainstLongNamesFinish) {
  const std::string as(2047, 'a');
  EXPECT_FALSE(matchPattern("*a*a*a*a*a*a*a*a*a*a*b", as.c_str()));
  EXPECT_TRUE(matchPattern("*a*a*a*a*a*a*a*a*a*a*b", (as + "b").c_str()));
  EXPECT_FALSE(matchPatternList("x;*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*c;y", as.c_str()));
  EXPECT_TRUE(matchPattern("*a*?*a*[a]*a*a*a*a*a*a*a*a*a*a*", as.c_str()));
}

TEST(FilterCuts, ListsKeepTheirFirst2047Characters) {
  MessageFilter filter;
  initMessageFilter(&filter);
  const std::string fits(2047, 'x');
  setIncludeIds(&filter, fits.c_str());
  EXPECT_EQ(std::string(filter.lists.includeIds), fits);
  const std::string tooLong = std::string(2047, 'y') + "z*";
  setExcludeIds(&filter, tooLong.c_str());
  EXPECT_EQ(std::string(filter.lists.excludeIds), tooLong.substr(0, 2047));
  setIncludeIds(&filter, nullptr);
  setExcludeIds(&filter, "");
  EXPECT_STREQ(filter.lists.includeIds, "");
  EXPECT_STREQ(filter.lists.excludeIds, "");
}

TEST(FilterCuts, PatternsBeforeASeparatorKeepTheirFirst1999Characters) {
  const std::string x1999(1999, 'x');
  // The first pattern loses its "yz" to the cut; the last pattern is whole.
  const std::string cutFirst = x1999 + "yz;q";
  EXPECT_TRUE(matchPatternList(cutFirst.c_str(), x1999.c_str()));
  EXPECT_FALSE(matchPatternList(cutFirst.c_str(), (x1999 + "yz").c_str()));
  const std::string wholeLast = "q;" + x1999 + "yz";
  EXPECT_TRUE(matchPatternList(wholeLast.c_str(), (x1999 + "yz").c_str()));
  EXPECT_FALSE(matchPatternList(wholeLast.c_str(), x1999.c_str()));
  const std::string exactFit = x1999 + ";q";
  EXPECT_TRUE(matchPatternList(exactFit.c_str(), x1999.c_str()));
  EXPECT_FALSE(matchPatternList(exactFit.c_str(), x1999.substr(1).c_str()));
}

// Messages emitted through the exports, seen by a callback of the host. The
// filter and the output context are process-wide, so the fixture restores
// everything it changes.
class FilterThroughExports : public testing::Test {
 protected:
  SavedSettings saved;
  // Emits one message and returns what reached the callback: "label<id>" for
  // the header call, then the text.
  std::vector<std::string> emit(const char* type, const char* id) {
    recordedCalls.clear();
    Trovex_Printf(type, id, "text");
    std::vector<std::string> arrived;
    for (const CallbackCall& call : recordedCalls) {
      if (call.hasLabel || call.hasId) arrived.push_back(call.label + "<" + call.id + ">");
      else if (call.hasData) arrived.push_back(call.data);
    }
    return arrived;
  }
};

using Arrived = std::vector<std::string>;

TEST_F(FilterThroughExports, StateExportsSwitchCategories) {
  const int previous = Trovex_WarnState_i(0);
  EXPECT_EQ(emit("w", "NET"), Arrived{});
  EXPECT_EQ(emit("ew", "NET"), (Arrived{"error<NET>", "text"}));
  EXPECT_EQ(Trovex_ErrorState_i(0), 1);
  EXPECT_EQ(emit("ew", "NET"), Arrived{});
  EXPECT_EQ(emit(nullptr, "NET"), (Arrived{"<NET>", "text"}));
  EXPECT_EQ(Trovex_InitState_i(5), 1);
  EXPECT_EQ(emit("wi", "NET"), (Arrived{"warn<NET>", "text"}));
  EXPECT_EQ(Trovex_WarnState_i(7), 0);
  EXPECT_EQ(emit("w", "NET"), (Arrived{"warn<NET>", "text"})) << "any nonzero value is on";
  EXPECT_EQ(Trovex_WarnState_i(previous), 7) << "stored unchanged";
}

TEST_F(FilterThroughExports, ListExportsFilterIdentifiers) {
  Trovex_IncludeID_s("NET*;disk");
  Trovex_ExcludeID_s("*debug*");
  EXPECT_EQ(emit("e", "network"), (Arrived{"error<network>", "text"}));
  EXPECT_EQ(emit("e", "DISK"), (Arrived{"error<DISK>", "text"}));
  EXPECT_EQ(emit("e", "disks"), Arrived{});
  EXPECT_EQ(emit("e", "netDebug"), Arrived{});
  EXPECT_EQ(emit("e", nullptr), (Arrived{"error<>", "text"}));

  Trovex_IncludeID_s(nullptr);
  EXPECT_EQ(emit("i", "disks"), (Arrived{"init<disks>", "text"}));
  EXPECT_EQ(emit("i", "DEBUG"), Arrived{});
  Trovex_ExcludeID_s(nullptr);
  EXPECT_EQ(emit("i", "DEBUG"), (Arrived{"init<DEBUG>", "text"}));

  // The empty identifier: stopped by an include list without an empty
  // pattern, let through by one with it.
  Trovex_IncludeID_s("x");
  EXPECT_EQ(emit("w", ""), Arrived{});
  Trovex_IncludeID_s("x;");
  EXPECT_EQ(emit("w", ""), (Arrived{"warn<>", "text"}));
}

TEST_F(FilterThroughExports, OverlongListIsCutNotRefused) {
  const std::string list = std::string(2046, ';') + "ab";
  Trovex_IncludeID_s(list.c_str());
  EXPECT_EQ(emit("w", "a"), (Arrived{"warn<a>", "text"}));
  EXPECT_EQ(emit("w", "ab"), Arrived{});
}

}  // namespace

}  // namespace trovex
