// Settings changed on one thread while another emits or reads back: every
// export works on the shared records under the library's mutex, so a message
// sees a callback either whole or not at all, and a read-back sees one name.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "trovex.h"

namespace {

std::atomic<long> dataCalls{0}, endCalls{0};

void TROVEX_CALL countCalls(const char*, const char*, const char* data, int) {
  ++(data ? dataCalls : endCalls);
}

TEST(HostThreads, CallbackSwappedWhileMessagesAreEmitted) {
  Trovex_EnableOutput_ii(1, 0);
  Trovex_EnableOutput_ii(2, 0);
  Trovex_Func_i(countCalls);
  std::atomic<bool> stop{false};
  std::atomic<long> swaps{0};
  std::thread swapper([&] {
    while (!stop) {
      Trovex_Func_i(nullptr);
      Trovex_Func_i(countCalls);
      ++swaps;
      std::this_thread::yield();
    }
  });
  // Until both sides did their share: the two threads can fall into a rhythm
  // in which every message meets the callback removed for a long while.
  for (int i = 0; (i < 20000 || swaps < 1000 || endCalls < 100) && i < 2000000; ++i)
    Trovex_CPrintf(nullptr, nullptr, "message %d", i);
  stop = true;
  swapper.join();
  Trovex_Func_i(nullptr);
  Trovex_EnableOutput_ii(1, 1);
  Trovex_EnableOutput_ii(2, 1);
  EXPECT_GT(endCalls.load(), 0);
  EXPECT_EQ(dataCalls.load(), endCalls.load()) << "every delivered message is whole";
}

TEST(HostThreads, ReadBackSeesOneWholeName) {
  const std::string shortName = "a.txt", longName(500, 'L');
  Trovex_Filename_s(shortName.c_str());
  std::atomic<bool> stop{false};
  std::atomic<long> swaps{0};
  std::thread setter([&] {
    while (!stop) {
      Trovex_Filename_s(longName.c_str());
      Trovex_Filename_s(shortName.c_str());
      ++swaps;
    }
  });
  int unterminated = 0, mixed = 0;
  char buffer[1000];
  for (int i = 0; i < 20000 || swaps < 1000; ++i) {
    std::memset(buffer, 'x', sizeof buffer);
    if (Trovex_ReadFilename_sii(buffer, sizeof buffer, 0) != 1) continue;
    if (!std::memchr(buffer, '\0', sizeof buffer)) ++unterminated;
    else if (buffer != shortName && buffer != longName) ++mixed;
  }
  stop = true;
  setter.join();
  Trovex_Filename_s(nullptr);
  EXPECT_EQ(unterminated, 0);
  EXPECT_EQ(mixed, 0);
}

}  // namespace
