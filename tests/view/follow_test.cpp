// Following a protocol file while the library writes it: across its own
// truncation, a new run that writes it anew, and its removal.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fileio/scratch.h"
#include "record/follow.h"
#include "message_path.h"
#include "record/view.h"

namespace trovex {

namespace {

// Small limits, so that a cut comes after a few hundred messages: files of
// 4000 bytes or more are cut to a tail of 999 to 2499 bytes.
constexpr uint32_t SizeLimit = 4000, KeepSize = 1000;

class Follow : public ScratchTest {
 protected:
  std::unique_ptr<TestOutput> out;
  std::string name;

  void SetUp() override {
    ScratchTest::SetUp();
    name = path("protocol.txt");
  }
  void TearDown() override {
    unload();
    ScratchTest::TearDown();
  }
  // A load of the library: a fresh context whose size check is due again.
  void load(const char* mode) {
    unload();
    out = std::make_unique<TestOutput>();
    out->protocol.sizeLimit = SizeLimit;
    out->protocol.keepSize = KeepSize;
    setOpenMode(&out->protocol, mode);
    setFileName(&out->protocol, name.c_str());
  }
  void unload() { out.reset(); }
  // Every fifth message starts a section with a form feed, a place to cut.
  void message(int n) { printAndClose(&out->context, "w", "ID", "%smessage %d\n", n % 5 == 0 ? "\f" : "", n); }
};

// The numbers of the "message N" lines in text, in order.
std::vector<int> messageNumbers(const std::string& text) {
  std::vector<int> numbers;
  for (size_t at = text.find("message "); at != std::string::npos; at = text.find("message ", at + 1))
    numbers.push_back(std::atoi(text.c_str() + at + 8));
  return numbers;
}

std::vector<int> upTo(int count) {
  std::vector<int> numbers;
  for (int n = 0; n < count; ++n) numbers.push_back(n);
  return numbers;
}

TEST_F(Follow, AcrossTheLibrarysCutEveryMessageOnceInOrder) {
  constexpr int Messages = 400;
  for (int stride : {1, 3, 7}) {
    SCOPED_TRACE(stride);
    std::remove(name.c_str());
    load("w");
    message(0);
    Follower follower(name, KeepSize);
    std::string shown, error;
    ASSERT_TRUE(follower.start(&shown, &error)) << error;
    int cuts = 0, other = 0, n = 1;
    auto poll = [&] {
      const Follower::Event event = follower.poll(&shown);
      if (event == Follower::Event::Cut) ++cuts;
      else if (event != Follower::Event::None) ++other;
    };
    // The first load writes past the limit: its size check came at its
    // second message, while the file was small.
    for (; n < 250; ++n) {
      message(n);
      if (n % stride == 0) poll();
    }
    ASSERT_GE(readWholeFile(name).size(), SizeLimit);
    // The next load appends, and cuts the file at its second message.
    load("a");
    for (; n < Messages; ++n) {
      message(n);
      if (n % stride == 0) poll();
    }
    poll();
    ASSERT_EQ(readWholeFile(name).rfind("--- Trunced at ", 0), 0u) << "the library cut the file";
    EXPECT_EQ(messageNumbers(shown), upTo(Messages));
    EXPECT_EQ(cuts, 1);
    EXPECT_EQ(other, 0);
  }
}

std::vector<int> joined(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(Follow, ANewRunIsReadFromItsStartThoughItStartsAsTheLastOneDid) {
  // Every run starts with the same banner, messages 0 to 3. The second then
  // writes less than the reader had seen, as much (the same length), more,
  // or the very same text into a new file that replaces the old one; or the
  // old file is deleted and the second run writes the first one's text and
  // more into a new file of the name.
  const std::vector<int> banner = {0, 1, 2, 3};
  const std::vector<int> first = joined(banner, {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25});
  enum OldFile { Rewritten, Replaced, Deleted };
  const struct {
    std::vector<int> second;
    OldFile old;
  } rows[] = {
      {joined(banner, {30, 31, 32}), Rewritten},
      {joined(banner, {30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45}), Rewritten},
      {joined(banner, upTo(60)), Rewritten},
      {first, Replaced},
#if !defined(_WIN32)
      // ext4 gives the new file the deleted one's inode number at once: only
      // the birth time tells the two apart. Windows has no row: its file
      // index is told apart by NTFS on reuse, but not by Wine, which takes
      // the host's inode number for it.
      {joined(first, {50, 51}), Deleted},
#endif
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.second.size());
    std::remove(name.c_str());
    load("w");
    for (int n : first) message(n);
    Follower follower(name, KeepSize);
    std::string shown, error;
    ASSERT_TRUE(follower.start(&shown, &error));
    const std::string before = readWholeFile(name);
    if (row.old == Deleted) {
      ASSERT_EQ(std::remove(name.c_str()), 0);
    }
    load("w");  // a new run of the host with the default mode "w"
    for (int n : row.second) message(n);
    unload();
    if (row.old == Replaced) {
      const std::string next = path("next.txt");
      writeWholeFile(next, before);
      std::filesystem::rename(next, name);
    }
    EXPECT_EQ(follower.poll(&shown), Follower::Event::Restarted);
    EXPECT_EQ(messageNumbers(shown), joined(first, row.second));
    EXPECT_EQ(follower.poll(&shown), Follower::Event::None) << "announced once";
  }
}

TEST_F(Follow, ARemovedOrNotYetCreatedFileIsReadFromItsStartWhenItComes) {
  writeWholeFile(name, "warn<A>: one\n");
  Follower follower(name, KeepSize);
  std::string shown, error;
  ASSERT_TRUE(follower.start(&shown, &error));
  ASSERT_EQ(std::remove(name.c_str()), 0);
  EXPECT_EQ(follower.poll(&shown), Follower::Event::Missing);
  EXPECT_EQ(follower.poll(&shown), Follower::Event::None) << "reported once";
  writeWholeFile(name, "warn<A>: two\n");
  EXPECT_EQ(follower.poll(&shown), Follower::Event::Back);
  EXPECT_EQ(shown, "warn<A>: one\nwarn<A>: two\n");
  // Followed before it exists, as tail -F does.
  Follower waiting(path("later.txt"), KeepSize);
  waiting.awaitCreation();
  std::string later;
  EXPECT_EQ(waiting.poll(&later), Follower::Event::None);
  writeWholeFile(path("later.txt"), "warn<A>: first\n");
  EXPECT_EQ(waiting.poll(&later), Follower::Event::Created);
  EXPECT_EQ(later, "warn<A>: first\n");
  // Once seen, a file that goes and comes back is back, not new.
  ASSERT_EQ(std::remove(path("later.txt").c_str()), 0);
  EXPECT_EQ(waiting.poll(&later), Follower::Event::Missing);
  writeWholeFile(path("later.txt"), "warn<A>: again\n");
  EXPECT_EQ(waiting.poll(&later), Follower::Event::Back);
}

TEST_F(Follow, AMissingFileOrADirectoryCannotBeStarted) {
  for (const std::string& source : {path("none.txt"), root}) {
    Follower follower(source, KeepSize);
    std::string shown, error;
    EXPECT_FALSE(follower.start(&shown, &error)) << source;
    EXPECT_FALSE(error.empty());
  }
}

// The reader saw a file of two sections; the library then cut it to its
// marker and a tail.
TEST_F(Follow, ACutIsReadOnAfterTheTailAlreadySeenOrShownFromItsMarker) {
  const std::string sections = "warn<A>: one\n\fwarn<A>: two\n";
  const std::string unsectioned = "warn<A>: an old text, longer than the file after the cut\n";
  const std::string marker = "--- Trunced at x ---\n\n";
  const struct {
    const char* name;
    std::string before, after;  // the file as read at the start, and after the cut
    Follower::Event event;
    std::string shown;          // all that was shown after the poll
  } rows[] = {
      {"the tail and more", sections, marker + "\fwarn<A>: two\nwarn<A>: three\n", Follower::Event::Cut,
       sections + "warn<A>: three\n"},
      {"the tail alone: a host that keeps the file open went quiet", sections, marker + "\fwarn<A>: two\n",
       Follower::Event::Cut, sections},
      {"part of the tail: still being written", sections, marker + "\fwarn<A>: t", Follower::Event::None, sections},
      {"a tail never seen is shown whole rather than lost", unsectioned, marker + "\fnew\n",
       Follower::Event::CutUnmatched, unsectioned + "\fnew\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    writeWholeFile(name, row.before);
    Follower follower(name, KeepSize);
    std::string shown, error;
    ASSERT_TRUE(follower.start(&shown, &error));
    writeWholeFile(name, row.after);
    EXPECT_EQ(follower.poll(&shown), row.event);
    if (row.event != Follower::Event::None) {
      EXPECT_EQ(follower.marker(), "--- Trunced at x ---");
    }
    EXPECT_EQ(follower.poll(&shown), Follower::Event::None) << "nothing more";
    EXPECT_EQ(shown, row.shown);
  }
}

}  // namespace

}  // namespace trovex
