// Many threads into one protocol file, with all three destinations on, while
// another thread reads the name back, copies the file and toggles the
// switches: every message arrives exactly once, whole and in its thread's
// order, in the protocol file, in the debug channel's file and through the
// callback. A program of its own, because the debug channel reads its
// configuration at the first message of a process.
//
// TROVEX_STRESS_MESSAGES sets the messages per thread (default 20000).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "trovex.h"

namespace trovex {

namespace {

namespace fs = std::filesystem;

constexpr int ThreadCount = 8;
const char Padding[] = "============================================================";

int messagesPerThread() {
  const char* text = std::getenv("TROVEX_STRESS_MESSAGES");
  const int count = text ? std::atoi(text) : 0;
  return count > 0 ? count : 20000;
}

// Message i of a thread: error category every fifth (flushed at its end),
// keep-open or close-after by a pattern that differs between threads, and a
// length that varies so that lines cross the stream buffer's boundaries.
bool isError(int i) { return i % 5 == 0; }
bool keepsOpen(int thread, int i) { return (i * 7 + thread) % 3 != 0; }
int padding(int i) { return i % 61; }
const char BodyFormat[] = "n%d.%05d %s %.*s|\n";

std::string body(int thread, int i) {
  char text[160];
  std::snprintf(text, sizeof text, BodyFormat, thread, i, keepsOpen(thread, i) ? "keep" : "close", padding(i),
                Padding);
  return text;
}

std::string line(int thread, int i) {
  return std::string(isError(i) ? "error" : "warn") + "<T" + std::to_string(thread) + ">: " + body(thread, i);
}

// The callback checks each message against what its thread emitted. The
// calls of one message come in a row under the library's lock, from the
// header call, whose id names the thread, to the end call. (Not thread_local
// strings: under the 64-bit Windows runtime their clean-up at a thread's end
// now and then frees a wrong block.)
struct Emitter {
  std::string expectedBody;  // written by the emitting thread before each message
  std::string receivedBody;
};
Emitter emitterStates[ThreadCount];
Emitter* current = nullptr;  // the message in delivery, or null before its header call
std::atomic<long> deliveredWhole{0}, deliveredWrong{0};

void TROVEX_CALL checkMessage(const char* label, const char* id, const char* data, int length) {
  if (label || id) {
    const int thread = id && id[0] == 'T' ? std::atoi(id + 1) : -1;
    current = thread >= 0 && thread < ThreadCount ? &emitterStates[thread] : nullptr;
  } else if (data) {
    if (current) current->receivedBody.append(data, length);
  } else {
    ++(current && current->receivedBody == current->expectedBody ? deliveredWhole : deliveredWrong);
    if (current) current->receivedBody.clear();
    current = nullptr;
  }
}

void emitAll(int thread, int count) {
  const std::string id = "T" + std::to_string(thread);
  for (int i = 0; i < count; ++i) {
    emitterStates[thread].expectedBody = body(thread, i);
    const char* type = isError(i) ? "ie" : "iw";  // the toggled init switch never stops them
    if (keepsOpen(thread, i))
      Trovex_CPrintf(type, id.c_str(), BodyFormat, thread, i, "keep", padding(i), Padding);
    else
      Trovex_Printf(type, id.c_str(), BodyFormat, thread, i, "close", padding(i), Padding);
  }
}

std::string contentOf(const fs::path& name) {
  std::ifstream file(name, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Checks that text is whole lines of the threads' messages, each thread's in
// order from its first; returns how many of each it holds, or an empty list
// with the first fault in *fault.
std::vector<int> linesPerThread(const std::string& text, std::string* fault) {
  std::vector<int> next(ThreadCount, 0);
  // The first message finds no line open before it, and begins a new one.
  size_t at = text.compare(0, 1, "\n") == 0 ? 1 : 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      *fault = "unfinished line at " + std::to_string(at);
      return {};
    }
    const std::string found = text.substr(at, end + 1 - at);
    const size_t mark = found.find("<T");
    const int thread = mark == std::string::npos ? -1 : std::atoi(found.c_str() + mark + 2);
    if (thread < 0 || thread >= ThreadCount || found != line(thread, next[thread])) {
      *fault = "unexpected line at " + std::to_string(at) + ": " + found;
      return {};
    }
    ++next[thread];
    at = end + 1;
  }
  return next;
}

#if defined(_WIN32)
const char ChannelKey[] = "qz\\kprintf";
#endif

// Sends the debug channel to a file, closed after every print so that the
// test can read it (held open, it is not shared), before the first message
// reads the configuration.
void configureChannel(const fs::path& file) {
  const std::string path = file.string();
#if defined(_WIN32)
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ChannelKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD use = 1, type = 0x102;
  RegSetValueExA(key, "use", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&use), sizeof use);
  RegSetValueExA(key, "type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof type);
  RegSetValueExA(key, "path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                 static_cast<DWORD>(path.size() + 1));
  RegCloseKey(key);
#else
  setenv("TROVEX_CHANNEL_USE", "1", 1);
  setenv("TROVEX_CHANNEL_TYPE", "0x102", 1);
  setenv("TROVEX_CHANNEL_PATH", path.c_str(), 1);
#endif
}

void forgetChannel() {
#if defined(_WIN32)
  RegDeleteKeyA(HKEY_CURRENT_USER, ChannelKey);
#endif
}

TEST(Stress, ThreadsIntoOneFileWhileAnotherReadsCopiesAndToggles) {
  const int count = messagesPerThread();
  // A folder of this run's own: builds of other checkouts may run the test at the same time.
  const fs::path directory =
      fs::temp_directory_path() /
      ("trovex-stress-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::remove_all(directory);
  fs::create_directories(directory);
  const fs::path protocol = directory / "protocol.txt", channel = directory / "channel.txt",
                 copy = directory / "copy.txt";
  configureChannel(channel);
  Trovex_Filename_s(protocol.string().c_str());
  Trovex_Func_i(checkMessage);

  std::atomic<int> running{ThreadCount};
  std::vector<std::thread> emitters;
  for (int t = 0; t < ThreadCount; ++t)
    emitters.emplace_back([t, count, &running] {
      emitAll(t, count);
      --running;
    });

  long rounds = 0, copies = 0, badNames = 0, failedCopies = 0, badCopies = 0;
  std::string copyFault;
  const std::string expectedName = protocol.string();
  auto lastCopy = std::chrono::steady_clock::now();
  while (running > 0) {
    char name[2048];
    if (Trovex_ReadFilename_sii(name, sizeof name, rounds % 2) != 1 || name != expectedName) ++badNames;
    Trovex_InitState_i(rounds % 2);
    Trovex_ExcludeID_s(rounds % 3 ? "X*;Q?" : nullptr);
    Trovex_IncludeID_s(rounds % 4 ? "t*" : nullptr);
    Trovex_Func_i(checkMessage);
    // Copying holds the lock for the whole file: now and then, so the
    // emitters keep going.
    if (std::chrono::steady_clock::now() - lastCopy > std::chrono::milliseconds(50)) {
      if (Trovex_CopyFile_si(copy.string().c_str(), 0) != 1) {
        ++failedCopies;
      } else if (copies++ % 8 == 0 && linesPerThread(contentOf(copy), &copyFault).empty()) {
        ++badCopies;
      }
      lastCopy = std::chrono::steady_clock::now();
    }
    ++rounds;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  for (std::thread& emitter : emitters) emitter.join();
  // The copy closes a stream held by keep-open messages, so the file is whole.
  const bool finalCopy = Trovex_CopyFile_si(copy.string().c_str(), 0) == 1;
  Trovex_Func_i(nullptr);
  Trovex_Filename_s(nullptr);
  Trovex_InitState_i(1);
  Trovex_ExcludeID_s(nullptr);
  Trovex_IncludeID_s(nullptr);
  forgetChannel();

  const long total = static_cast<long>(ThreadCount) * count;
  std::printf("%ld messages from %d threads; %ld rounds of read-back and toggles, %ld copies\n", total,
              ThreadCount, rounds, copies);
  EXPECT_GT(rounds, 0);
  EXPECT_EQ(badNames, 0);
  EXPECT_EQ(failedCopies, 0);
  EXPECT_EQ(badCopies, 0) << copyFault;
  EXPECT_EQ(deliveredWhole.load(), total);
  EXPECT_EQ(deliveredWrong.load(), 0);

  const std::string protocolText = contentOf(protocol);
  std::string fault;
  EXPECT_EQ(linesPerThread(protocolText, &fault), std::vector<int>(ThreadCount, count)) << fault;
  EXPECT_TRUE(finalCopy && contentOf(copy) == protocolText) << "the last copy differs from the file";
  // The channel receives the same text under the same lock.
  EXPECT_TRUE(contentOf(channel) == protocolText) << "the channel's file differs from the protocol file";
  fs::remove_all(directory);
}

}  // namespace

}  // namespace trovex
