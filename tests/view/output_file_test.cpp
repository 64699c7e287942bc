// The viewer's own output file: its sizes and days of rotation, the old
// files it keeps, and opening it again after another program moved it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "fileio/scratch.h"
#include "record/output_file.h"

namespace trovex {
namespace {

namespace fs = std::filesystem;

TEST(OutputFileRotation, TakesDailyOrASizeOfAtLeastFourKibibytes) {
  struct Row {
    const char* text;
    bool valid;
    Rotation::Kind kind;
    uint64_t bytes;
  };
  const Row rows[] = {
      {"daily", true, Rotation::Kind::Daily, 0},   {"4K", true, Rotation::Kind::Size, 4096},
      {"4096", true, Rotation::Kind::Size, 4096},  {"10M", true, Rotation::Kind::Size, 10ull << 20},
      {"2g", true, Rotation::Kind::Size, 2ull << 30}, {"4095", false, {}, 0},
      {"3K", false, {}, 0},                        {"10X", false, {}, 0},
      {"10MB", false, {}, 0},                      {"Daily", false, {}, 0},
      {"-4K", false, {}, 0},                       {"99999999999999999999G", false, {}, 0},
  };
  for (const Row& row : rows) {
    Rotation rotation;
    std::string error;
    EXPECT_EQ(parseRotation(row.text, &rotation, &error), row.valid) << row.text;
    if (!row.valid) {
      EXPECT_NE(error.find("--rotate"), std::string::npos) << row.text;
      continue;
    }
    EXPECT_EQ(rotation.kind, row.kind) << row.text;
    EXPECT_EQ(rotation.maxBytes, row.bytes) << row.text;
  }
}

// A clock the test moves: the seconds since the epoch of a local noon.
std::time_t testNow = 0;
std::time_t testClock() { return testNow; }
std::time_t localNoon(int year, int month, int day) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = 12;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

class OutputFileTest : public ScratchTest {
 protected:
  // The old files beside "out.txt", by name.
  std::vector<std::string> oldFiles() const {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("out.txt.", 0) == 0) names.push_back(name.substr(8));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  void write(OutputFile* file, const std::string& text, OutputFile::Written expected = OutputFile::Written::Done) {
    std::string error;
    EXPECT_EQ(file->write(text.data(), text.size(), &error), expected) << error;
  }
};

TEST_F(OutputFileTest, ASizeMovesTheFileAsideBeforeItWouldPassAndKeepsTheNewest) {
  Rotation rotation;
  ASSERT_TRUE(parseRotation("4K", &rotation, nullptr));
  rotation.keep = 2;
  OutputFile file(path("out.txt"), rotation);
  file.setClock(testClock);
  testNow = localNoon(2026, 3, 1);
  std::string error;
  ASSERT_TRUE(file.open(&error)) << error;
  // 1,000-byte lines, 4 to a file; two rotations in one second take ".1".
  std::string all;
  for (int line = 0; line < 20; ++line) {
    std::string text(999, static_cast<char>('a' + line));
    text += '\n';
    all += text;
    if (line % 8 == 0) ++testNow;
    write(&file, text);
  }
  const std::vector<std::string> expected{"2026-03-01T120002.1", "2026-03-01T120003"};
  EXPECT_EQ(oldFiles(), expected);
  const std::string kept = readWholeFile(path("out.txt." + expected[0])) + readWholeFile(path("out.txt." + expected[1])) +
                           readWholeFile(path("out.txt"));
  EXPECT_EQ(kept, all.substr(all.size() - 12000)) << "the newest three files hold the last lines, whole and in order";
  EXPECT_EQ(readWholeFile(path("out.txt")).size(), 4000u);
}

TEST_F(OutputFileTest, ADayMovesTheFileAsideUnderTheDayItWasWritten) {
  Rotation rotation;
  ASSERT_TRUE(parseRotation("daily", &rotation, nullptr));
  rotation.keep = 1;
  std::string error;
  {
    OutputFile file(path("out.txt"), rotation);
    file.setClock(testClock);
    testNow = localNoon(2026, 2, 28);
    ASSERT_TRUE(file.open(&error)) << error;
    write(&file, "first day\n");
    testNow += 6 * 3600;  // the same day, at six in the evening
    write(&file, "first day, later\n");
    EXPECT_TRUE(oldFiles().empty());
    testNow = localNoon(2026, 3, 1);
    write(&file, "second day\n");
    EXPECT_EQ(oldFiles(), std::vector<std::string>{"2026-02-28"});
    EXPECT_EQ(readWholeFile(path("out.txt.2026-02-28")), "first day\nfirst day, later\n");
    testNow = localNoon(2026, 3, 3);
    write(&file, "fourth day\n");
    EXPECT_EQ(oldFiles(), std::vector<std::string>{"2026-03-01"}) << "one old file kept, the newest";
    EXPECT_EQ(readWholeFile(path("out.txt")), "fourth day\n");
  }
  // A viewer started on a later day moves the file of an earlier one aside
  // first, under that file's own day.
  const auto sinceNow = std::chrono::system_clock::from_time_t(localNoon(2026, 3, 3)) - std::chrono::system_clock::now();
  fs::last_write_time(path("out.txt"),
                      fs::file_time_type::clock::now() + std::chrono::duration_cast<fs::file_time_type::duration>(sinceNow));
  OutputFile file(path("out.txt"), rotation);
  file.setClock(testClock);
  testNow = localNoon(2026, 3, 5);
  ASSERT_TRUE(file.open(&error)) << error;
  write(&file, "restarted\n");
  EXPECT_EQ(oldFiles(), std::vector<std::string>{"2026-03-03"});
  EXPECT_EQ(readWholeFile(path("out.txt.2026-03-03")), "fourth day\n");
  EXPECT_EQ(readWholeFile(path("out.txt")), "restarted\n");
}

TEST_F(OutputFileTest, OpensTheFileAgainWhenAskedAfterItWasMoved) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows moves no file a program has open, and has no SIGHUP that asks to open it again";
#endif
  OutputFile file(path("out.txt"), Rotation{});
  std::string error;
  ASSERT_TRUE(file.open(&error)) << error;
  write(&file, "before\n");
  fs::rename(path("out.txt"), path("moved.txt"));  // as logrotate does
  write(&file, "still into the moved file\n");
  file.reopenRequested();
  write(&file, "after\n");
  EXPECT_EQ(readWholeFile(path("moved.txt")), "before\nstill into the moved file\n");
  EXPECT_EQ(readWholeFile(path("out.txt")), "after\n");
  EXPECT_TRUE(oldFiles().empty()) << "no rotation of its own, no old files";
}

}  // namespace
}  // namespace trovex
