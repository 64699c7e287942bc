// The exports as a host sees them: the state after a reload, fields cut to
// their size, read-back, and settings that take effect at the next message.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/module.h"
#include "callback_recorder.h"
#include "filter/filter.h"
#include "protocol/protocol.h"
#include "trovex.h"

namespace trovex {

namespace {

TEST(Exports, AReloadForgetsEverySetting) {
  Trovex_WarnState_i(0);
  Trovex_IncludeID_s("nothing");
  Trovex_Filename_s("some.txt");
  Trovex_Func_i(recordCallback);
  shutDownLibrary();
  startUpLibrary();
  EXPECT_EQ(Trovex_WarnState_i(1), 1);
  EXPECT_EQ(Trovex_ErrorState_i(1), 1);
  EXPECT_EQ(Trovex_InitState_i(1), 1);
  char name[8] = "x";
  EXPECT_EQ(Trovex_ReadFilename_sii(name, sizeof name, 0), 1);
  EXPECT_STREQ(name, "");
  recordedCalls.clear();
  Trovex_Printf("w", "ID", "x");
  EXPECT_TRUE(recordedCalls.empty()) << "the callback is gone";
  Trovex_Func_i(recordCallback);
  Trovex_Printf("w", "ID", "x");
  EXPECT_EQ(recordedText(), "x") << "no include list is left";
  Trovex_Func_i(nullptr);
}

TEST(Exports, EnableOutputKnowsTwoDestinations) {
  const struct {
    int type, on, result;
  } rows[] = {{3, 1, 0}, {0, 0, 0}, {-1, 1, 0}, {1, 0, 1}, {1, 5, 1}, {2, 0, 1}, {2, -1, 1}};
  for (const auto& row : rows) EXPECT_EQ(Trovex_EnableOutput_ii(row.type, row.on), row.result) << row.type;
}

TEST(Exports, NamesAndModesAreCutToTheirFields) {
  const std::string longName(3000, 'n');
  EXPECT_EQ(Trovex_Filename_s(longName.c_str()), 1);
  char buffer[4096];
  EXPECT_EQ(Trovex_ReadFilename_sii(buffer, sizeof buffer, 0), 1);
  EXPECT_EQ(std::string(buffer), longName.substr(0, 2047));
  const struct {
    const char* mode;
    std::string stored;
  } modes[] = {{"a+", "a+"}, {"", "w"}, {nullptr, "w"}, {"rb", "rb"}};
  for (const auto& row : modes) {
    EXPECT_EQ(Trovex_FileOpenMode_s(row.mode), 1);
    EXPECT_EQ(protocolFile.requestedMode, row.stored);
  }
  EXPECT_EQ(Trovex_FileOpenMode_s(std::string(40, 'a').c_str()), 1);
  EXPECT_EQ(std::strlen(protocolFile.requestedMode), 31u);
  Trovex_FileOpenMode_s(nullptr);
  Trovex_Filename_s(nullptr);
}

TEST(Exports, ReadFilenameNeedsRoomForTheTerminator) {
  Trovex_Filename_s("abcd");
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(Trovex_ReadFilename_sii(buffer, 4, 0), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(Trovex_ReadFilename_sii(buffer, 5, 0), 1);
  EXPECT_STREQ(buffer, "abcd");
  buffer[0] = 'x';
  EXPECT_EQ(Trovex_ReadFilename_sii(buffer, 0, 0), 0);
  EXPECT_EQ(buffer[0], 'x') << "nothing is written into a zero-length buffer";
  EXPECT_EQ(Trovex_ReadFilename_sii(buffer, -1, 0), 0);
  EXPECT_EQ(buffer[0], 'x');
  Trovex_Filename_s(nullptr);
}

}  // namespace

}  // namespace trovex
