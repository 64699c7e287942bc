// Turns at a file: one owner at a time per file name, across threads (and,
// through the named mutex, across processes: the sharing scenario); names
// the file system takes for one file share a turn; pipes need none.
#include <atomic>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "scratch.h"

namespace trovex {

namespace {

class FileTurns : public ScratchTest {
 protected:
  FileTurn first{nullptr, 0, 0}, second{nullptr, 0, 0};
  void TearDown() override {
    closeFileTurn(&first);
    closeFileTurn(&second);
    ScratchTest::TearDown();
  }
};

TEST_F(FileTurns, OneTurnPerFileNameAndNoneForPipes) {
  const std::string one = path("one.txt"), other = path("other.txt");
  EXPECT_FALSE(takeFileTurn(&first, "\\\\.\\pipe\\trovex")) << "a pipe takes every writer";
  EXPECT_EQ(first.holds, 0u);
  ASSERT_TRUE(takeFileTurn(&first, one.c_str()));
  // The same owner holds one file's turn: another file's waits for the end.
  EXPECT_FALSE(takeFileTurn(&first, other.c_str()));
  std::thread([&] {
    EXPECT_TRUE(takeFileTurn(&second, other.c_str())) << "another file's turn is free";
    endFileTurn(&second);
  }).join();
  endFileTurn(&first);
  ASSERT_TRUE(takeFileTurn(&first, other.c_str()));
  EXPECT_EQ(first.nameKey, nameKey(other.c_str()));
  endFileTurn(&first);
  endFileTurn(&first);  // none held: nothing happens
  EXPECT_EQ(first.holds, 0u);
  EXPECT_EQ(nameKey("Log.txt") == nameKey("LOG.TXT"), NamesIgnoreCase);
  EXPECT_NE(nameKey("log.txt"), nameKey("log.txz"));
}

// Four owners on four threads take a file's turn again and again: never two
// inside at once, and every one gets its turns.
TEST_F(FileTurns, FourThreadsTakeTurnsOneAtATime) {
  constexpr int Threads = 4, Rounds = 500;
  const std::string name = path("busy.txt");
  std::atomic<int> inside{0}, overlaps{0}, turns{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; ++t)
    threads.emplace_back([&] {
      FileTurn turn{nullptr, 0, 0};
      for (int round = 0; round < Rounds; ++round) {
        if (!takeFileTurn(&turn, name.c_str())) continue;
        if (inside.fetch_add(1) != 0) ++overlaps;
        ++turns;
        inside.fetch_sub(1);
        endFileTurn(&turn);
      }
      closeFileTurn(&turn);
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(turns.load(), Threads * Rounds);
}

}  // namespace

}  // namespace trovex
