// Directories and names: the current and the temporary directory, joining a
// name onto a directory within a buffer's bounds, and the comparison of names.
#include "scratch.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/paths.h"

namespace trovex {

namespace {

struct JoinCase {
  const char* directory;
  const char* name;
  uint32_t size;
  int result;
  const char* joined;  // the directory buffer afterwards
};

TEST(JoinPath, SeparatorsDrivesAndBounds) {
  const JoinCase cases[] = {
#if defined(_WIN32)
      {"C:\\work", "a.txt", 64, 1, "C:\\work\\a.txt"},
      {"C:\\work\\", "a.txt", 64, 1, "C:\\work\\a.txt"},
      {"C:\\work/", "a.txt", 64, 1, "C:\\work/a.txt"},
      {"C:\\work", "D:\\x\\a.txt", 64, 1, "D:\\x\\a.txt"},
      {"C:\\work", "\\x\\a.txt", 64, 1, "C:\\work\\\\x\\a.txt"},  // no drive: appended like any name
      {"C:\\w", "1234567", 12, 0, "C:\\w"},                        // 4 + 1 + 7 characters and the NUL
      {"C:\\w", "123456", 12, 1, "C:\\w\\123456"},
      {"C:\\w\\", "1234567", 12, 0, "C:\\w\\"},
      {"C:\\w\\", "123456", 12, 1, "C:\\w\\123456"},
      {"C:\\work", "D:\\x", 4, 0, "C:\\work"},
      {"C:\\work", "D:\\x", 5, 1, "D:\\x"},
#else
      {"/work", "a.txt", 64, 1, "/work/a.txt"},
      {"/work/", "a.txt", 64, 1, "/work/a.txt"},
      {"/work", "/x/a.txt", 64, 1, "/x/a.txt"},
      {"/work", "C:a.txt", 64, 1, "/work/C:a.txt"},
      {"/w12", "1234567", 12, 0, "/w12"},
      {"/w12", "123456", 12, 1, "/w12/123456"},
      {"/w12/", "1234567", 12, 0, "/w12/"},
      {"/w12/", "123456", 12, 1, "/w12/123456"},
      {"/work", "/x/a", 4, 0, "/work"},
      {"/work", "/x/a", 5, 1, "/x/a"},
#endif
      {"", "a.txt", 6, 1, "a.txt"},
      {"", "a.txt", 5, 0, ""},
      {"dir", "a.txt", 0, 0, "dir"},
  };
  for (const JoinCase& c : cases) {
    char buffer[64];
    std::strcpy(buffer, c.directory);
    EXPECT_EQ(joinPath(buffer, c.name, c.size), c.result) << c.directory << " + " << c.name << " in " << c.size;
    EXPECT_STREQ(buffer, c.joined);
  }
}

int sign(int value) { return (value > 0) - (value < 0); }

TEST(CompareNames, FoldsAsciiAndLatin1LettersWhereTheFileSystemDoes) {
  const struct {
    const char* first;
    const char* second;
    int folded;  // Windows: letters folded to upper case
    int bytes;   // POSIX: byte for byte
  } cases[] = {
      {"ABC.TXT", "abc.txt", 0, -1}, {"\xe4", "\xc4", 0, 1},  {"\xfe\xe0", "\xde\xc0", 0, 1},
      {"a", "ab", -1, -1},           {"ab", "a", 1, 1},         {"a", "B", -1, 1},
      {"\xf7", "\xd7", 1, 1},        {"\xff", "\xdf", 1, 1},    {"\\", "/", 1, 1},
      {"[", "{", -1, -1},            {"", "", 0, 0},            {"\xe0", "\xc1", -1, 1},
      {"C:\\A", "c:\\a", 0, -1},    {"a.txt", "C:\\a.txt", -1, 1}, {"log.txt", "log.txt", 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sign(compareNames(c.first, c.second)), NamesIgnoreCase ? c.folded : c.bytes)
        << c.first << " : " << c.second;
}

TEST(Directories, CurrentDirectoryFitsOrFails) {
  const std::string expected = std::filesystem::current_path().string();
  char buffer[2048];
  ASSERT_EQ(currentDirectory(buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer), expected);
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(currentDirectory(buffer, static_cast<uint32_t>(expected.size())), 0);  // no room for the NUL
  EXPECT_EQ(currentDirectory(buffer, static_cast<uint32_t>(expected.size() + 1)), 1);
  EXPECT_EQ(std::string(buffer), expected);
}

TEST(Directories, TemporaryDirectoryEndsWithASeparator) {
  char buffer[TempPathSize];
  char* own = tempDirectory(buffer, sizeof buffer);
  ASSERT_EQ(own, buffer);
  const std::string path(buffer);
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(path.back() == '\\' || path.back() == '/');
  char* shared = tempDirectory(nullptr, 0);
  ASSERT_NE(shared, nullptr);
  EXPECT_NE(shared, buffer);
  EXPECT_EQ(std::string(shared), path);
  // The path and its NUL need path.size() + 1 characters, and one more is kept back.
  EXPECT_EQ(tempDirectory(buffer, static_cast<uint32_t>(path.size() + 1)), nullptr);
  EXPECT_EQ(tempDirectory(buffer, static_cast<uint32_t>(path.size() + 2)), buffer);
  EXPECT_EQ(tempDirectory(buffer, 1), nullptr);
  EXPECT_EQ(tempDirectory(buffer, 0), nullptr);
}

#if !defined(_WIN32)
// The emulation takes the temporary directory from TMPDIR, so its length can be chosen.
class LongTemporaryPath : public testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    saved = old ? old : "";
    hadValue = old != nullptr;
  }
  void TearDown() override {
    if (hadValue)
      setenv("TMPDIR", saved.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  std::string saved;
  bool hadValue = false;
};

TEST_F(LongTemporaryPath, APathLongerThanTheBufferIsAFailure) {
  const struct {
    size_t length;  // characters of the path with its trailing separator
    bool fits;
  } cases[] = {{2046, true}, {2047, false}, {3000, false}};
  for (const auto& c : cases) {
    setenv("TMPDIR", ("/" + std::string(c.length - 2, 't') + "/").c_str(), 1);
    char* path = tempDirectory(nullptr, 0);
    EXPECT_EQ(path != nullptr, c.fits) << c.length;
    if (path) {
      EXPECT_EQ(std::strlen(path), c.length);
    }
  }
}
#endif

}  // namespace

}  // namespace trovex
