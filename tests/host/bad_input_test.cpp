// Bad input at every export, as a careless or hostile host passes it: null,
// empty, over-long (3,000 and 70,000 characters) and hostile texts, formats
// that end inside a directive or ask for widths and precisions of 65535,
// lists of 2,047 stars, and integers at their limits. Nothing crashes or
// hangs, and each gives the documented result.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>

#include "trovex.h"

namespace {

namespace fs = std::filesystem;

const std::string Long3000(3000, 'a'), Long70000(70000, 'b'), Stars(2047, '*');

// Texts for every string argument, null first.
const char* const Texts[] = {nullptr, "", Long3000.c_str(), Long70000.c_str(), Stars.c_str(),
                             "%", "%s%n%p%S", "[", "[z-a", "\\", ";;;", "\xff\x80\x01"};

// Formats that hostile or broken hosts send: each ends inside a directive,
// takes odd flags, or asks for the largest widths and precisions. Every
// argument they take is a null pointer, which each conversion accepts.
const char* const HostileFormats[] = {
    "%", "%-", "%#", "%0", "%.", "%*", "%.*", "%L", "%w", "%lL", "%#-0", "%65535", "%I64",
    "%65535d", "%.65535s", "%65535.65535f", "%-65535s", "%065535x", "%99999999999d", "%.99999999999s",
    "%*.*d", "%*.*s", "%*.*p", "%#S%#s%S", "%n%n%n%n", "%p%P%.0p%.65535p", "%C%c%5%", "%0-5d%+d%5-d%.5.3d",
    "%Lf%Lx%LLd", "%ws%wS", "%%%%%%%", "\x1b[31m%s\x1b[0m", "\n\n\n%", "%ls%hs%zd%jd%td", "%e%g%a%E%G",
};

struct Received {
  long headers = 0, ends = 0;
  size_t idLength = 0;
  std::string text;
};
Received received;

void TROVEX_CALL receive(const char* label, const char* id, const char* data, int length) {
  if (label || id) {
    ++received.headers;
    received.idLength = id ? std::strlen(id) : 0;
  } else if (data) {
    received.text.append(data, length);
  } else {
    ++received.ends;
  }
}

// Emits with both exports, with null pointers for every argument a directive
// may take, and once more with no argument list at all.
constexpr long EmitsEach = 3;
void emitBoth(const char* type, const char* id, const char* format) {
#define NULLS10 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr
  EXPECT_NE(Trovex_Printf(type, id, format, NULLS10, NULLS10, NULLS10, NULLS10), 0);
  EXPECT_NE(Trovex_CPrintf(type, id, format, NULLS10, NULLS10, NULLS10, NULLS10), 0);
#undef NULLS10
  EXPECT_NE(Trovex_VCPrintf_ssss(type, id, format, nullptr), 0);
}

class BadInput : public testing::Test {
 protected:
  void SetUp() override {
    directory = fs::temp_directory_path() / "trovex-bad-input";
    fs::remove_all(directory);
    fs::create_directories(directory);
    protocol = (directory / "protocol.txt").string();
    Trovex_EnableOutput_ii(1, 0);  // keep standard error readable
    received = Received{};
    Trovex_Func_i(receive);
  }
  void TearDown() override {
    Trovex_Func_i(nullptr);
    Trovex_Printf(nullptr, nullptr, "");  // closes a file that keep-open messages hold
    Trovex_Filename_s(nullptr);
    Trovex_FileOpenMode_s(nullptr);
    Trovex_IncludeID_s(nullptr);
    Trovex_ExcludeID_s(nullptr);
    Trovex_EnableOutput_ii(1, 1);
    fs::remove_all(directory);
  }
  fs::path directory;
  std::string protocol;
};

TEST_F(BadInput, NamesAndModesAreCutOrEmptiedAndMessagesGoOn) {
  for (const char* text : Texts) {
    const std::string shown = text ? std::string(text).substr(0, 20) : "(null)";
    EXPECT_EQ(Trovex_Filename_s(text), 1) << shown;
    char name[4096];
    ASSERT_EQ(Trovex_ReadFilename_sii(name, sizeof name, 0), 1) << shown;
    EXPECT_EQ(std::string(name), text ? std::string(text).substr(0, 2047) : "") << shown;
    // A mode the file layer refuses only keeps the file from opening.
    Trovex_Filename_s(protocol.c_str());
    EXPECT_EQ(Trovex_FileOpenMode_s(text), 1) << shown;
    received = Received{};
    EXPECT_NE(Trovex_Printf("w", "ID", "still delivered\n"), 0);
    EXPECT_EQ(received.text, "still delivered\n") << shown;
    Trovex_Filename_s(nullptr);
  }
  // Copies to names that cannot be files fail; the others would be made.
  Trovex_Filename_s(protocol.c_str());
  Trovex_FileOpenMode_s(nullptr);
  Trovex_Printf("w", "ID", "copied\n");
  const std::string missingDirectory = (directory / "missing" / "copy.txt").string();
  for (const char* destination : {static_cast<const char*>(nullptr), "", Long3000.c_str(), Long70000.c_str(),
                                  missingDirectory.c_str()}) {
    EXPECT_EQ(Trovex_CopyFile_si(destination, 0), 0);
    EXPECT_EQ(Trovex_CopyFile_si(destination, 1), 0);
  }
}

TEST_F(BadInput, ReadBackNeverWritesOutsideItsLength) {
  Trovex_Filename_s("name.txt");
  const struct {
    int length, result;
    const char* content;  // what the buffer holds after the call
  } rows[] = {{INT_MIN, 0, "xxxxxxxxxxxx"}, {-1, 0, "xxxxxxxxxxxx"}, {0, 0, "xxxxxxxxxxxx"},
              {1, 0, ""},                   {8, 0, ""},             {9, 1, "name.txt"}};
  for (const auto& row : rows) {
    char buffer[13] = "xxxxxxxxxxxx";
    EXPECT_EQ(Trovex_ReadFilename_sii(buffer, row.length, 0), row.result) << row.length;
    EXPECT_STREQ(buffer, row.content) << row.length;
  }
  EXPECT_EQ(Trovex_ReadFilename_sii(nullptr, 100, 0), 0);
  EXPECT_EQ(Trovex_ReadFilename_sii(nullptr, 0, 0), 0);
}

TEST_F(BadInput, IntegersAtTheirLimits) {
  for (int value : {INT_MIN, -1, 0, 3, INT_MAX}) {
    EXPECT_EQ(Trovex_Info_i(value), value == 1 ? 1 : value == 2 ? 9 : 0);
    EXPECT_EQ(Trovex_EnableOutput_ii(value, value), 0) << value;
    EXPECT_EQ(Trovex_EnableOutput_ii(2, value), 1) << value;
    // Switches store any value and give it back; nonzero is on.
    const int before = Trovex_WarnState_i(value);
    EXPECT_EQ(Trovex_WarnState_i(before), value);
  }
  Trovex_EnableOutput_ii(2, 1);
}

TEST_F(BadInput, IdentifierListsAreCutAndNeverHang) {
  const std::string id2047(2047, 'a'), id2048(2048, 'a');
  const std::string manyStars = Stars + "b";  // 2,047 stars, then a letter the cut removes
  const struct {
    const char* include;
    const char* exclude;
    const char* id;
    bool passes;
  } rows[] = {
      {Stars.c_str(), nullptr, "anything", true},
      {Stars.c_str(), nullptr, Long70000.c_str(), true},
      {manyStars.c_str(), nullptr, "no b at the end", true},  // cut to the stars
      {Long70000.c_str(), nullptr, Long70000.c_str(), false},  // 2,047 b's against 70,000
      {Long3000.c_str(), nullptr, id2047.c_str(), true},
      {Long3000.c_str(), nullptr, id2048.c_str(), false},
      {nullptr, Stars.c_str(), "x", false},
      {"", "", "x", true},
      {"[", nullptr, "[", false},  // an unclosed set matches nothing
      {"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", nullptr, Long70000.c_str(), false},
  };
  for (const auto& row : rows) {
    Trovex_IncludeID_s(row.include);
    Trovex_ExcludeID_s(row.exclude);
    received = Received{};
    Trovex_Printf("w", row.id, "x");
    EXPECT_EQ(received.ends, row.passes ? 1 : 0) << (row.include ? row.include : "(null)") << " / " << row.id;
  }
}

TEST_F(BadInput, MessagesWithHostileArgumentsStayWhole) {
  Trovex_Filename_s(protocol.c_str());
  long messages = 0;
  for (const char* type : Texts)
    for (const char* id : {static_cast<const char*>(nullptr), "", Long3000.c_str(), Long70000.c_str()}) {
      received = Received{};
      emitBoth(type, id, "text\n");
      // Without category letters a message always passes; other letters
      // are ignored, so a type without e, w or i stops it.
      const bool passes = !type || std::strpbrk(type, "ewi");
      EXPECT_EQ(received.ends, passes ? EmitsEach : 0);
      if (passes && id && *id) {
        EXPECT_EQ(received.idLength, std::strlen(id)) << "the callback gets the whole id";
      }
      messages += EmitsEach;
    }
  for (const char* format : Texts) {
    received = Received{};
    emitBoth("w", "ID", format);
    EXPECT_EQ(received.ends, EmitsEach);
    if (format && !std::strchr(format, '%')) {
      EXPECT_EQ(received.text, std::string(format) + format + format);
    }
    messages += EmitsEach;
  }
  for (const char* format : HostileFormats) {
    received = Received{};
    emitBoth("e", "ID", format);
    EXPECT_EQ(received.ends, EmitsEach) << format;
    messages += EmitsEach;
  }
  Trovex_Printf(nullptr, nullptr, "");
  EXPECT_GT(fs::file_size(protocol), 0u);
  std::printf("%ld messages with bad arguments\n", messages);
}

// A host that passes no argument list: none is read, every argument is zero
// or a null pointer.
TEST_F(BadInput, ANullArgumentListIsNeverRead) {
  const struct {
    const char* format;
    const char* text;
  } rows[] = {{"plain\n", "plain\n"},
              {"%d|%s|%x|%.1f|%Lu|%*.*d|%p|%n", "0|**NULL**|0|0|0||**NULL**|"}};
  for (const auto& row : rows) {
    received = Received{};
    EXPECT_EQ(Trovex_VPrintf_ssss("w", "ID", row.format, nullptr), 1) << row.format;
    EXPECT_EQ(received.text, row.text);
  }
}

TEST_F(BadInput, LargestWidthsAndPrecisions) {
  const std::string text70000(70000, 't');
  const struct {
    const char* format;
    const void* argument;
    size_t length;
  } rows[] = {
      {"%s", text70000.c_str(), 65535},             // text stops at 65535 characters
      {"%.65535s", text70000.c_str(), 65535},       // 65535 is no precision
      {"%.65534s", text70000.c_str(), 65534},
      {"%-65535s", "abc", 65535},                   // filled to the width
      {"%65535p", "0123456789abcdef", 35},          // a dump ignores the width
  };
  for (const auto& row : rows) {
    received = Received{};
    Trovex_Printf("w", "ID", row.format, row.argument);
    EXPECT_EQ(received.text.size(), row.length) << row.format;
  }
  received = Received{};
  Trovex_Printf("w", "ID", "%*d|%.*d|%*.*s", 65535, 7, 65535, 7, -1, -1, "abc");
  EXPECT_NE(received.text.find('|'), std::string::npos);
}

TEST_F(BadInput, TimeStampsWithBadFormats) {
  const std::string longTime(3000, 'Y'), percents(70000, '%');
  for (const char* format : {static_cast<const char*>(nullptr), "", "%", "%%%", "%Q%C%c%n%t", longTime.c_str(),
                             percents.c_str(), Long70000.c_str()}) {
    for (const char* type : {static_cast<const char*>(nullptr), "", "w", Long70000.c_str()}) {
      received = Received{};
      Trovex_PrintTime_sss(type, Long3000.c_str(), format);
      Trovex_Printf(nullptr, nullptr, "\n");  // ends a line the stamp left open
      EXPECT_GE(received.ends, 1);
    }
  }
}

}  // namespace
