// The size cap: which files are cut where, the marker line, and what leaves
// a file as it is.
#include <algorithm>

#include "fileio/scratch.h"
#include "protocol/protocol.h"

namespace trovex {

namespace {

constexpr uint32_t Limit = 5000000, Keep = 1000000;

// A file of `size` bytes of 'x' with form feeds at the given offsets.
std::string fileWithFormFeeds(uint32_t size, std::initializer_list<uint32_t> formFeeds) {
  std::string text(size, 'x');
  for (uint32_t offset : formFeeds) text[offset] = '\f';
  return text;
}

class Truncation : public ScratchTest {
 protected:
  ProtocolFile file{};
  void SetUp() override {
    ScratchTest::SetUp();
    initProtocolFile(&file);
  }
  void TearDown() override {
#if !defined(_WIN32)
    sim::reset();
#endif
    ScratchTest::TearDown();
  }
};

// The marker line with its date, and the tail from `cut` on (its first
// `kept` bytes, if given); the date is checked for its shape here and byte
// for byte under a fixed clock below.
void expectCutAt(const std::string& after, const std::string& before, uint32_t cut, size_t kept = std::string::npos) {
  const std::string prefix = "--- Trunced at ";
  ASSERT_EQ(after.compare(0, prefix.size(), prefix), 0);
  const size_t end = after.find(" ---\n\n");
  ASSERT_NE(end, std::string::npos);
  EXPECT_LT(end, 64u) << "one marker line";
  EXPECT_TRUE(after.compare(end + 6, std::string::npos, before, cut, kept) == 0) << "tail from " << cut;
  EXPECT_EQ(after.size() - end - 6, std::min(kept, before.size() - cut));
}

TEST_F(Truncation, CutAtTheLastFormFeedThatKeepsEnough) {
  const struct {
    uint32_t size;
    std::initializer_list<uint32_t> formFeeds;
    int64_t cut;  // -1: unchanged
  } rows[] = {
      {4999999, {4000000}, -1},             // below the limit: not examined
      {5000000, {4000000}, 4000000},        // at the limit: examined
      {6000000, {}, -1},                    // no form feed: never cut
      {6000000, {4500000}, 4500000},        // the tail of 1,500,000 bytes is kept
      {6000000, {2000000}, -1},             // a tail of 4,000,000 is too long
      {6000000, {3000001}, 3000001},        // tail 2,999,999: one below (K + L) / 2, cut
      {6000000, {3000000}, -1},             // tail 3,000,000: exactly (K + L) / 2, unchanged
      {6000000, {2999999}, -1},             // tail 3,000,001
      {6000000, {5000001}, 5000001},        // tail 999,999: the last offset scanned
      {6000000, {5000002}, -1},             // tail 999,998: beyond the scan
      {6000000, {3100000, 4000000}, 4000000},
      {6000000, {3100000, 5500000}, 3100000},  // the later one lies beyond the scan
      {6000000, {0}, -1},                   // a cut at 0 keeps the whole file
  };
  const std::string name = path("big.log");
  for (const auto& row : rows) {
    const std::string before = fileWithFormFeeds(row.size, row.formFeeds);
    writeWholeFile(name, before);
    truncateProtocolFile(&file, name.c_str());
    const std::string after = readWholeFile(name);
    if (row.cut < 0) {
      EXPECT_TRUE(after == before) << row.size << " unchanged";
    } else {
      expectCutAt(after, before, static_cast<uint32_t>(row.cut));
    }
  }
}

TEST(CutPoint, ScanRangeWrapsWhenKeepExceedsTheSize) {
  const uint8_t text[] = {'a', 12, 'b', 12, 'c'};
  const struct {
    uint32_t size, keep, cut;
  } rows[] = {{5, 9, 3}, {5, 5, 1}, {5, 4, 1}, {5, 3, 3}, {5, 0, 3}, {1, 2, 0}, {0, 2, 0}};
  for (const auto& row : rows) EXPECT_EQ(findCutPoint(text, row.size, row.keep), row.cut) << row.size << ' ' << row.keep;
}

#if !defined(_WIN32)
TEST_F(Truncation, MarkerCarriesTheLocalDateInGerman) {
  const SYSTEMTIME clock{2007, 3, 2, 27, 14, 5, 9, 0};
  sim::fixLocalTime(&clock);
  const std::string name = path("dated.log");
  writeWholeFile(name, fileWithFormFeeds(Limit, {4000000}));
  truncateProtocolFile(&file, name.c_str());
  const std::string marker = "--- Trunced at Dienstag 27-M\xE4r-2007 14:05:09 ---\n\n\f";
  EXPECT_EQ(readWholeFile(name).substr(0, marker.size()), marker);
}

TEST_F(Truncation, AFileNotReadWholeIsLeftAsItIs) {
  const std::string name = path("unread.log");
  const std::string before = fileWithFormFeeds(Limit, {4000000});
  writeWholeFile(name, before);
  sim::failCall("ReadFile", 0, 1, ERROR_INVALID_HANDLE);
  truncateProtocolFile(&file, name.c_str());
  EXPECT_TRUE(readWholeFile(name) == before);
  // A read that succeeds one byte short: the form feed was read, the last byte was not.
  sim::shortRead(0, Limit - 1);
  truncateProtocolFile(&file, name.c_str());
  EXPECT_TRUE(readWholeFile(name) == before);
  sim::failCall("HeapAlloc", 2, 1, ERROR_NOT_ENOUGH_MEMORY);  // the buffer, after the stream's two
  truncateProtocolFile(&file, name.c_str());
  EXPECT_TRUE(readWholeFile(name) == before);
}

// The rewrite's writes, in order: the marker, the tail, then after a failure
// the old text whole, then after another the marker and the tail again.
TEST_F(Truncation, AFailedRewriteLeavesTheOldTextOrTheMarkerAndTail) {
  constexpr uint32_t Cut = 4000000, Tail = Limit - Cut;
  constexpr int64_t Succeeds = -1;
  const struct {
    int64_t tail;     // bytes the tail's write gets out before it fails
    int64_t restore;  // likewise the old text's write, if it fails
    int64_t again;    // likewise the second write of the tail, if it fails
    int64_t kept;     // tail bytes behind the marker afterwards; -1: the old text whole
  } rows[] = {
      {0, Succeeds, Succeeds, -1},            // at its first block: the old text is back
      {Tail / 2, Succeeds, Succeeds, -1},     // in the middle
      {Tail - 1, Succeeds, Succeeds, -1},     // at its last block
      {0, Limit / 2, Succeeds, Tail},         // the restore fails midway: the cut again
      {Tail / 2, Limit / 2, Succeeds, Tail},  //
      {Tail - 1, Limit / 2, Succeeds, Tail},  //
      {Tail - 1, 0, Succeeds, Tail},          // the restore writes nothing
      {Tail / 2, Limit - 1, 300000, 300000},  // all three fail: as much of the tail as fit
  };
  const std::string name = path("full.log");
  const std::string before = fileWithFormFeeds(Limit, {Cut});
  for (const auto& row : rows) {
    writeWholeFile(name, before);
    sim::shortWrite(1, static_cast<DWORD>(row.tail), ERROR_DISK_FULL);
    if (row.restore != Succeeds) sim::shortWrite(2, static_cast<DWORD>(row.restore), ERROR_DISK_FULL);
    if (row.again != Succeeds) sim::shortWrite(4, static_cast<DWORD>(row.again), ERROR_DISK_FULL);
    truncateProtocolFile(&file, name.c_str());
    const std::string after = readWholeFile(name);
    if (row.kept < 0) EXPECT_TRUE(after == before) << row.tail << " old text";
    else expectCutAt(after, before, Cut, static_cast<size_t>(row.kept));
    sim::reset();
  }

  // The marker's write failing is a failed cut too.
  writeWholeFile(name, before);
  sim::failCall("WriteFile", 0, 1, ERROR_DISK_FULL);
  truncateProtocolFile(&file, name.c_str());
  EXPECT_TRUE(readWholeFile(name) == before);
  // A restore that cannot open the file leaves the cut as far as it got.
  writeWholeFile(name, before);
  sim::shortWrite(1, Tail / 2, ERROR_DISK_FULL);
  sim::failCall("CreateFileA", 3, 1, ERROR_ACCESS_DENIED);  // after the size, the read and the cut
  truncateProtocolFile(&file, name.c_str());
  expectCutAt(readWholeFile(name), before, Cut, Tail / 2);
}
#endif

}  // namespace

}  // namespace trovex
