// The viewer selects from the library's unfiltered output exactly what the
// library itself writes with the same switches and lists.
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "dispatch/emit.h"
#include "printing.h"
#include "filter/filter.h"
#include "fileio/scratch.h"
#include "protocol/protocol.h"
#include "record/view.h"

namespace trovex {

namespace {

class FilterParity : public ScratchTest {
 protected:
  void TearDown() override {
    initMessageFilter(&messageFilter);
    ScratchTest::TearDown();
  }

  // The protocol file the library writes for every message, under the
  // process-wide filter as it is set.
  std::string libraryOutput(const std::vector<std::string>& ids, const std::string& name) {
    ProtocolFile file{};
    initProtocolFile(&file);
    OutputContext context{};
    initOutputContext(&context, &messageFilter, &file);
    setChannelEnabled(&context, false);
    setFileName(&file, path(name).c_str());
    const char* letters[] = {"e", "w", "i"};
    for (size_t n = 0; n < ids.size(); ++n)
      printAndClose(&context, letters[n % 3], ids[n].c_str(), "%u\n", static_cast<unsigned>(n));
    destroyOutputContext(&context);
    std::string text = readWholeFile(path(name));
    std::remove(path(name).c_str());
    if (text == "<missing>") text.clear();  // no message passed
    return text;
  }
};

// Identifiers of characters that patterns treat specially, in both cases,
// with Windows-1252 letters; none holds a line end or ">: ", which a header
// could not carry.
std::vector<std::string> generatedIds() {
  const std::string alphabet = "aAbBmMxX;*?[]!-\\_ 0\xc4\xe4";
  std::mt19937 random(13);
  std::vector<std::string> ids = {"", "module", "MODX", "xmod", "myDEBUGx", "a;b", "]"};
  while (ids.size() < 600) {
    std::string id(random() % 7, ' ');
    for (char& c : id) c = alphabet[random() % alphabet.size()];
    ids.push_back(id);
  }
  return ids;
}

TEST_F(FilterParity, SameSelectionAsTheLibrary) {
  const std::vector<std::string> ids = generatedIds();
  const std::string everything = libraryOutput(ids, "all.txt");
  const struct {
    const char* include;
    const char* exclude;
    bool errors, warnings, init;
  } rows[] = {
      {"", "", true, true, true},          {"MOD*", "", true, true, true},
      {"", "*debug*", true, false, true},  {"my*;a*", "*debug*", true, true, false},
      {"a;b", "", false, true, true},      {"a\\;b;[!a-c]x", "", true, true, true},
      {"a;", "", true, true, true},        {";", "", true, true, true},
      {"[a-]*;[]a]?", "b*", true, true, true}, {"**b;*\\;x", "", true, true, true},
      {"\xc4*;[\xc0-\xd6]", "", true, true, true}, {"*", "?", false, false, true},
      {"", "", false, false, false},       {"*[", "", true, true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.include) + " / " + row.exclude);
    initMessageFilter(&messageFilter);
    setIncludeIds(&messageFilter, row.include);
    setExcludeIds(&messageFilter, row.exclude);
    swapCategorySwitch(&messageFilter, 'e', row.errors);
    swapCategorySwitch(&messageFilter, 'w', row.warnings);
    swapCategorySwitch(&messageFilter, 'i', row.init);
    const std::string expected = libraryOutput(ids, "filtered.txt");
    initMessageFilter(&messageFilter);

    ViewFilter filter;
    std::string error;
    ASSERT_TRUE(filter.configure({row.include, row.exclude, row.errors, row.warnings, row.init, {}, {}}, &error));
    Viewer viewer(filter, OutputForm::Plain);
    viewer.feed(everything.data(), everything.size());
    viewer.finish();
    // The library starts a load's first message with a newline (its header
    // follows an open line); from the unfiltered file, the viewer shows
    // that empty line even when no message follows.
    std::string shown = viewer.output();
    if (expected.empty() && shown == "\n") shown.clear();
    EXPECT_TRUE(shown == expected) << shown.size() << " bytes, the library's " << expected.size();
  }
}

}  // namespace

}  // namespace trovex
