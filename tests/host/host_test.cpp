// A host program that knows only the public header and the built library:
// the DLL under Wine, the shared library natively.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "trovex.h"

namespace {

struct Call {
  std::string label, id, data;
  bool hasLabel, hasId, hasData;
  int length;
};
std::vector<Call> calls;

void TROVEX_CALL record(const char* label, const char* id, const char* data, int length) {
  calls.push_back(Call{label ? label : "", id ? id : "", data ? std::string(data, length) : "",
                       label != nullptr, id != nullptr, data != nullptr, length});
}

// The text of all data calls of the recorded messages.
std::string body() {
  std::string text;
  for (const Call& call : calls) text += call.data;
  return text;
}

class Host : public testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    Trovex_Func_i(record);
  }
  void TearDown() override { Trovex_Func_i(nullptr); }
};

TEST_F(Host, InfoAndSetterExportsReturnWhatTheHostExpects) {
  EXPECT_EQ(Trovex_Info_i(1), 1);
  EXPECT_EQ(Trovex_Info_i(2), 9);
  EXPECT_EQ(Trovex_Info_i(0), 0);
  EXPECT_EQ(Trovex_Info_i(3), 0);
  EXPECT_EQ(Trovex_Info_i(-1), 0);

  EXPECT_EQ(Trovex_Filename_s(nullptr), 1);
  EXPECT_EQ(Trovex_FileOpenMode_s(nullptr), 1);
}

TEST_F(Host, InitAndCleanupChangeNothing) {
  const int warn = Trovex_WarnState_i(5);
  for (int i = 0; i < 3; ++i) {
    Trovex_Cleanup();
    Trovex_Init();
    Trovex_Init();
    Trovex_Cleanup();
  }
  EXPECT_EQ(Trovex_WarnState_i(warn), 5) << "the switch kept its value";
  Trovex_Printf("w", "ID", "still here");
  EXPECT_EQ(body(), "still here") << "the callback is still registered";
}

TEST_F(Host, RemovedCallbackReceivesNothing) {
  EXPECT_EQ(Trovex_Func_i(nullptr), 1);
  Trovex_Printf("e", "ID", "lost");
  EXPECT_TRUE(calls.empty());
}

TEST_F(Host, MessageReachesTheCallbackWithHeaderChunksAndEnd) {
  EXPECT_NE(Trovex_Printf("we", "NET", "retry %s: %c%C%%", "later", 'x', 9), 0);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].label, "error");
  EXPECT_EQ(calls[0].id, "NET");
  EXPECT_FALSE(calls[0].hasData);
  EXPECT_EQ(calls[1].data, "retry later: x.%");
  EXPECT_FALSE(calls[2].hasLabel || calls[2].hasId || calls[2].hasData);
  EXPECT_EQ(calls[2].length, 0);
}

TEST_F(Host, LongBodiesArriveIn96ByteChunks) {
  const std::string text(193, 'z');
  Trovex_CPrintf("i", "X", "%s", text.c_str());
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[1].length, 96);
  EXPECT_EQ(calls[2].length, 96);
  EXPECT_EQ(calls[3].length, 1);
  EXPECT_EQ(body(), text);
}

TEST_F(Host, NullArgumentsNeverCrashTheHost) {
  Trovex_Printf(nullptr, nullptr, nullptr);
  ASSERT_EQ(calls.size(), 1u);  // only the end call
  calls.clear();
  Trovex_Printf(nullptr, "ID", "%s|%#S", static_cast<const char*>(nullptr), static_cast<const char*>(nullptr));
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_FALSE(calls[0].hasLabel);
  EXPECT_EQ(calls[0].id, "ID");
  EXPECT_EQ(calls[1].data, "**NULL**|\"**NULL**\"");
  Trovex_IncludeID_s(nullptr);
  Trovex_ExcludeID_s(nullptr);
  char buffer[4] = "xyz";
  EXPECT_EQ(Trovex_ReadFilename_sii(buffer, 4, 0), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(Trovex_ReadFilename_sii(nullptr, 0, 0), 0);
}

TEST_F(Host, HostileFormatsProduceBoundedOutput) {
  int target = 12345;
  Trovex_Printf("w", "H", "a%nb%", &target);
  EXPECT_EQ(target, 12345);  // "%n" never writes through the pointer
  EXPECT_EQ(body(), "ab");
  calls.clear();
  Trovex_Printf("w", "H", "[%*s]", -5, "x");  // width 65531
  EXPECT_EQ(body().size(), 65531u + 2u);
  EXPECT_EQ(body().substr(65530, 3), " x]");
}

// An invalid pointer for "%s": reading it would end the host.
const char* const Unreadable = reinterpret_cast<const char*>(1);

TEST_F(Host, AMessageThatGoesNowhereReadsNoArgument) {
  const struct {
    const char* name;
    const char* type;
    const char* exclude;
    bool callback;
  } rows[] = {
      {"stopped by its identifier", "w", "NOISY", true},
      {"stopped by its category", "i", nullptr, true},
      {"no destination on", "w", nullptr, false},
  };
  Trovex_EnableOutput_ii(1, 0);
  Trovex_EnableOutput_ii(2, 0);
  const int init = Trovex_InitState_i(0);
  for (const auto& row : rows) {
    Trovex_ExcludeID_s(row.exclude);
    Trovex_Func_i(row.callback ? record : nullptr);
    EXPECT_EQ(Trovex_Printf(row.type, "NOISY", "%s%.65535P", Unreadable, Unreadable), 1) << row.name;
  }
  Trovex_InitState_i(init);
  Trovex_ExcludeID_s(nullptr);
  Trovex_EnableOutput_ii(1, 1);
  Trovex_EnableOutput_ii(2, 1);
  EXPECT_TRUE(calls.empty());
}

}  // namespace

extern "C" int trovexHeaderFromC89(void);

namespace {
TEST_F(Host, HeaderWorksFromC89Code) {
  EXPECT_GE(trovexHeaderFromC89(), 2);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].label, "init");
  EXPECT_EQ(calls[0].id, "C89");
  EXPECT_EQ(body(), "from C89 code");
}
}  // namespace
