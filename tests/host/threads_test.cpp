// Settings changed on one thread while another emits or reads back: a message
// sees a callback either whole or not at all, a read-back sees one name, and
// a setter never waits for a message whose callback waits for the setter's
// thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

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

// A callback that waits for another thread of the host, as a window's
// SendMessage waits for the window's thread, while that thread calls a
// setter: the setter returns, and the callback sees it return.
struct Handshake {
  std::mutex mutex;
  std::condition_variable changed;
  bool callbackWaits = false, setterReturned = false;
};
Handshake* handshake;
bool setterSeenFromCallback;

void TROVEX_CALL waitForTheSetter(const char*, const char*, const char* data, int) {
  if (!data) return;
  std::unique_lock<std::mutex> lock(handshake->mutex);
  handshake->callbackWaits = true;
  handshake->changed.notify_all();
  setterSeenFromCallback = handshake->changed.wait_for(lock, std::chrono::seconds(5),
                                                       [] { return handshake->setterReturned; });
}

TEST(HostThreads, SettersReturnWhileTheCallbackWaitsForTheirThread) {
  const struct {
    const char* name;
    void (*call)();
  } setters[] = {
      {"WarnState", [] { Trovex_WarnState_i(Trovex_WarnState_i(1)); }},
      {"ErrorState", [] { Trovex_ErrorState_i(1); }},
      {"InitState", [] { Trovex_InitState_i(1); }},
      {"IncludeID", [] { Trovex_IncludeID_s(nullptr); }},
      {"ExcludeID", [] { Trovex_ExcludeID_s("NOTHING"); }},
      {"EnableOutput", [] { Trovex_EnableOutput_ii(1, 0); }},
      {"Func", [] { Trovex_Func_i(waitForTheSetter); }},
      {"Filename", [] { Trovex_Filename_s(nullptr); }},
      {"FileOpenMode", [] { Trovex_FileOpenMode_s("w"); }},
  };
  Trovex_EnableOutput_ii(1, 0);
  Trovex_EnableOutput_ii(2, 0);
  for (const auto& setter : setters) {
    Handshake current;
    handshake = &current;
    setterSeenFromCallback = false;
    Trovex_Func_i(waitForTheSetter);
    std::thread window([&] {
      std::unique_lock<std::mutex> lock(current.mutex);
      current.changed.wait(lock, [&] { return current.callbackWaits; });
      lock.unlock();
      setter.call();
      lock.lock();
      current.setterReturned = true;
      current.changed.notify_all();
    });
    Trovex_Printf("e", "WAIT", "x");
    window.join();
    EXPECT_TRUE(setterSeenFromCallback) << setter.name;
  }
  Trovex_Func_i(nullptr);
  Trovex_ExcludeID_s(nullptr);
  Trovex_EnableOutput_ii(1, 1);
  Trovex_EnableOutput_ii(2, 1);
}

// A callback that calls every export, once, from inside its message.
int exportsCalled;
void TROVEX_CALL callEveryExport(const char*, const char*, const char* data, int) {
  if (!data || exportsCalled) return;
  exportsCalled = 1;
  char name[4096];
  Trovex_Init();
  exportsCalled += Trovex_Info_i(1);
  exportsCalled += Trovex_Filename_s("host-reentry.txt");
  exportsCalled += Trovex_FileOpenMode_s("w");
  exportsCalled += Trovex_ReadFilename_sii(name, sizeof name, 1);
  exportsCalled += Trovex_CopyFile_si("host-reentry-copy.txt", 0);
  exportsCalled += Trovex_WarnState_i(Trovex_WarnState_i(1));
  exportsCalled += Trovex_ErrorState_i(1);
  exportsCalled += Trovex_InitState_i(1);
  Trovex_IncludeID_s(nullptr);
  Trovex_ExcludeID_s(nullptr);
  exportsCalled += Trovex_EnableOutput_ii(2, 1);
  exportsCalled += Trovex_Func_i(callEveryExport);
  exportsCalled += Trovex_Printf("w", "INNER", "closing\n");
  exportsCalled += Trovex_CPrintf("w", "INNER", "keeping\n");
  exportsCalled += Trovex_PrintTime_sss("i", "STAMP", "%H:%M\n") > 0;
  Trovex_PrintSystemInfo();
  Trovex_Cleanup();
}

// Run in a process of its own (the report it asks for would be the first).
TEST(HostReentry, ACallbackMayCallEveryExport) {
  exportsCalled = 0;
  Trovex_EnableOutput_ii(1, 0);
  Trovex_Func_i(callEveryExport);
  EXPECT_EQ(Trovex_Printf("e", "OUTER", "outer\n"), 1);
  EXPECT_EQ(exportsCalled, 14) << "each export returned what a host expects";
  Trovex_Filename_s(nullptr);
  Trovex_EnableOutput_ii(1, 1);
  std::remove("host-reentry.txt");
  std::remove("host-reentry-copy.txt");
  Trovex_Func_i(nullptr);
}

}  // namespace
