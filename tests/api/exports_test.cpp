// The exports as forwarders: defaults after loading, setters, and results.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/module.h"
#include "dispatch/filter.h"
#include "protocol/protocol.h"
#include "trovex.h"

namespace {

TEST(Exports, RecordsHoldTheirDefaultsAfterLoading) {
  // Reload to see the state right after start-up, whatever earlier tests did.
  shutDownLibrary();
  startUpLibrary();
  EXPECT_EQ(messageFilter.warnState, 1);
  EXPECT_EQ(messageFilter.errorState, 1);
  EXPECT_EQ(messageFilter.initState, 1);
  EXPECT_STREQ(messageFilter.includeIds, "");
  EXPECT_STREQ(messageFilter.excludeIds, "");
  const OutputContext& c = outputContext;
  EXPECT_STREQ(c.fileName, "");
  EXPECT_STREQ(c.openMode, "w");
  EXPECT_EQ(c.sizeLimit, 5000000u);
  EXPECT_EQ(c.keepSize, 1000000u);
  EXPECT_EQ(c.stream, nullptr);
  EXPECT_EQ(c.callback, nullptr);
  EXPECT_NE(c.mutex, nullptr);
  EXPECT_EQ(c.opened + c.continuation + c.atLineStart, 0);
  EXPECT_EQ(c.channelEnabled + c.protocolEnabled + c.callbackEnabled + c.truncatePending, 4);
}

TEST(Exports, StateSwitchesStoreValuesUnchangedAndReturnThePrevious) {
  const int saved = Trovex_WarnState_i(0);
  EXPECT_EQ(Trovex_WarnState_i(7), 0);
  EXPECT_EQ(messageFilter.warnState, 7);
  EXPECT_EQ(Trovex_WarnState_i(saved), 7);
  EXPECT_EQ(Trovex_InitState_i(Trovex_InitState_i(-2)), -2);
  EXPECT_EQ(Trovex_ErrorState_i(Trovex_ErrorState_i(0)), 0);
}

TEST(Exports, EnableOutputKnowsTwoDestinations) {
  EXPECT_EQ(Trovex_EnableOutput_ii(3, 1), 0);
  EXPECT_EQ(Trovex_EnableOutput_ii(0, 0), 0);
  EXPECT_EQ(outputContext.channelEnabled, 1);
  EXPECT_EQ(outputContext.protocolEnabled, 1);
  EXPECT_EQ(Trovex_EnableOutput_ii(1, 0), 1);
  EXPECT_EQ(outputContext.channelEnabled, 0);
  EXPECT_EQ(Trovex_EnableOutput_ii(1, 5), 1);
  EXPECT_EQ(outputContext.channelEnabled, 1) << "stored as a boolean";
  EXPECT_EQ(Trovex_EnableOutput_ii(2, 0), 1);
  EXPECT_EQ(outputContext.protocolEnabled, 0);
  EXPECT_EQ(Trovex_EnableOutput_ii(2, -1), 1);
  EXPECT_EQ(outputContext.protocolEnabled, 1);
}

TEST(Exports, NamesAndModesAreCutToTheirFields) {
  const std::string longName(3000, 'n');
  EXPECT_EQ(Trovex_Filename_s(longName.c_str()), 1);
  EXPECT_EQ(std::strlen(outputContext.fileName), 2047u);
  EXPECT_EQ(Trovex_FileOpenMode_s(std::string(40, 'a').c_str()), 1);
  EXPECT_EQ(std::strlen(outputContext.openMode), 31u);
  Trovex_FileOpenMode_s("");
  EXPECT_STREQ(outputContext.openMode, "w");
  Trovex_FileOpenMode_s("a+");
  EXPECT_STREQ(outputContext.openMode, "a+");
  Trovex_FileOpenMode_s(nullptr);
  EXPECT_STREQ(outputContext.openMode, "w");
  Trovex_Filename_s(nullptr);
  EXPECT_STREQ(outputContext.fileName, "");
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

TEST(Exports, CallbackCanBeRemoved) {
  EXPECT_EQ(Trovex_Func_i(nullptr), 1);
  EXPECT_EQ(outputContext.callback, nullptr);
}

}  // namespace
