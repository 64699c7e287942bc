// The debug channel as a pipe's reader and the debugger's monitor receive
// it, read with the viewer's own readers: a pipe whose reader comes and goes,
// reads nothing or takes part of a message, idle connections beside a host,
// the debugger's pieces, and a forked child that writes as itself.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "debugchannel/channel_fixture.h"
#include "listen/listen.h"
#include "platform/debug_output.h"
#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace trovex {

namespace {

class ChannelReading : public Channel {
 protected:
  // A channel of its own on this test's pipe, and the pipe's listener (null,
  // with the reason, when the pipe cannot be served).
  std::unique_ptr<PipeListener> servePipeChannel(DebugChannel* channel, std::string* error) {
    writeConfig({true, 1, true, 2, Config::PipePath});
    std::unique_ptr<PipeListener> listener = listenOnPipe(pipeName(), error);
    initDebugChannel(channel, &devices);
    return listener;
  }
};

// What a listener receives, each connection read as the viewer reads it
// (its hello, then its lines), until `expected` bytes of lines have come or
// a writer has gone (at most a few seconds). The reading goes on across
// calls, so that a line cut between two comes whole.
struct Received {
  std::string data, program;
  std::vector<uint32_t> pids;  // of each connection
  bool gone = false;
};
class PipeReading {
 public:
  explicit PipeReading(PipeListener* listener) : listener_(listener) {}
  Received receive(size_t expected) {
    Received got;
    got_ = &got;
    std::vector<PipeEvent> events;
    std::string error;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.data.size() < expected && !got.gone && std::chrono::steady_clock::now() < end) {
      EXPECT_TRUE(listener_->wait(&events, &error)) << error;
      for (const PipeEvent& event : events) take(event);
      events.clear();
    }
    got_ = nullptr;
    return got;
  }

 private:
  void take(const PipeEvent& event) {
    if (event.kind == PipeEvent::Kind::Connected) {
      got_->program = event.program;
      got_->pids.push_back(event.pid);
      streams_[event.writer] = std::make_unique<WriterStream>(
          event.hello, [this](std::string_view name) { if (!name.empty()) got_->program.assign(name); },
          [this](std::string_view piece, bool, bool ends) { got_->data.append(piece).append(ends ? "\n" : ""); });
    } else if (event.kind == PipeEvent::Kind::Data) {
      streams_.at(event.writer)->feed(event.data);
    } else {
      streams_.at(event.writer)->finish();
      got_->gone = true;
    }
  }

  PipeListener* listener_;
  std::map<uint64_t, std::unique_ptr<WriterStream>> streams_;
  Received* got_ = nullptr;
};

// Texts the emulation's OutputDebugStringA gave up so far; none on Windows,
// where the system's waits for its monitor.
unsigned debugOutputGivenUp() {
#if defined(_WIN32)
  return 0;
#else
  return trovex::win32::sim::debugOutputGivenUp();
#endif
}

uint32_t thisProcess() {
#if defined(_WIN32)
  return GetCurrentProcessId();
#else
  return uint32_t(getpid());
#endif
}

// As if a second had passed since the configured path last failed to open.
void aSecondLater(DebugChannel* channel) { channel->pathFailedTick -= PathRetryMilliseconds; }

// A pipe's reader that is not there yet, comes, goes and comes again: the
// channel writes to its fallback until the pipe opens, which it tries again
// once a second, not at every print; once a write fails (the reader has
// gone) it goes on with the same print at once, on a new reader or the
// fallback. A message longer than one write arrives whole.
TEST_F(ChannelReading, APipesReaderMayComeGoAndComeAgain) {
  writeConfig({true, 1, true, 2, Config::PipePath});
  DebugChannel channel;
  initDebugChannel(&channel, &devices);
  auto message = [&](const std::string& body) {
    channelWriteMessage(&channel, "warn<P>: ", 9, body.data(), static_cast<unsigned>(body.size()));
  };
  std::string error;
  std::string longBody;  // a shifted or lost byte shows
  for (int i = 0; i < 5000; ++i) longBody.push_back(static_cast<char>('a' + i % 23));
  longBody.push_back('\n');
  message("before\n");
  std::unique_ptr<PipeListener> listener = listenOnPipe(pipeName(), &error);
  ASSERT_TRUE(listener) << error;
  message("within the second\n");
  aSecondLater(&channel);
  message("first\n");
  message(longBody);
  const std::string firstTwo = "warn<P>: first\nwarn<P>: " + longBody;
  const Received first = PipeReading(listener.get()).receive(firstTwo.size());
  EXPECT_TRUE(first.data == firstTwo) << first.data.size();
  EXPECT_EQ(first.program.rfind("trovex_view_tests", 0), 0u) << first.program;
  listener.reset();
  message("gap\n");
  listener = listenOnPipe(pipeName(), &error);
  ASSERT_TRUE(listener) << error;
  aSecondLater(&channel);
  message("again\n");
  closeDebugChannel(&channel);
  const Received again = PipeReading(listener.get()).receive(std::string::npos);
  EXPECT_EQ(again.data, "warn<P>: again\n");
  EXPECT_TRUE(again.gone) << "closed with the channel";
  EXPECT_EQ(readWholeFile(fallbackName), "warn<P>: before\nwarn<P>: within the second\nwarn<P>: gap\n");
  EXPECT_EQ(readWholeFile(path("stderr.txt")), "");
  EXPECT_FALSE(listenOnPipe("a/b\\c", &error)) << "no pipe name on either system";
}

// A reader that takes nothing: each message waits for the pipe a bounded
// while, and once one has waited in vain the next ones in that second do not
// wait at all; what the pipe could not take is counted, and the next message
// it takes is preceded by the count, so that the reader sees every message
// either whole or in the count. A message the pipe took in part leaves its
// line open: the notice starts on a line of its own.
TEST_F(ChannelReading, AReaderThatTakesNothingCostsABoundedWaitAndTheLossIsTold) {
  DebugChannel channel;
  std::string error;
  std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
  ASSERT_TRUE(listener) << error;
  const std::string body = std::string(997, 'b') + "\n";
  unsigned sent = 0;
  while (channel.pipe.lostMessages < 3 && sent < 100000) {
    const std::string text = std::to_string(sent++) + ":" + body;
    channelWriteMessage(&channel, "warn<P>: ", 9, text.data(), static_cast<unsigned>(text.size()));
  }
  ASSERT_EQ(channel.pipe.lostMessages, 3u) << "a pipe that is never read fills up";
  EXPECT_TRUE(channel.pipe.waitedInVain);
  EXPECT_FALSE(channel.pipe.messageMayWait) << "the second and third loss waited for nothing";
  PipeReading reading(listener.get());
  const Received whileFull = reading.receive(1);  // the reader starts reading
  channel.pipe.waitedInVain = false;  // as a second later
  channelWriteMessage(&channel, "warn<P>: ", 9, "last\n", 5);
  ++sent;
  channelWriteMessage(&channel, "warn<P>: ", 9, "after\n", 6);
  ++sent;
  closeDebugChannel(&channel);
  std::string data = whileFull.data + reading.receive(std::string::npos).data;
  // Every line: a whole message in order, a notice, or the head of a lost message.
  unsigned whole = 0, told = 0, notices = 0;
  size_t at = 0;
  while (at < data.size()) {
    const size_t end = data.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "the reader's text ends with a whole line";
    const std::string line = data.substr(at, end + 1 - at);
    unsigned count = 0;
    if (std::sscanf(line.c_str(), "--- %u messages lost: the reader was busy ---\n", &count) == 1) {
      told += count;
      ++notices;
    } else if (line == "warn<P>: " + std::to_string(whole + told) + ":" + body ||
               line == "warn<P>: last\n" || line == "warn<P>: after\n") {
      ++whole;
    } else {
      EXPECT_EQ(data.find("--- ", end + 1), end + 1) << "only a lost message's head, then a notice: " << line.substr(0, 40);
    }
    at = end + 1;
  }
  // A reader that reads ahead on its own (Windows' pending read) may take
  // some between the losses: then more notices tell of them.
  EXPECT_GE(notices, 1u);
  EXPECT_GE(told, 3u);
  EXPECT_EQ(whole + told, sent);
  const std::string end = "warn<P>: last\nwarn<P>: after\n";
  EXPECT_EQ(data.substr(data.size() - end.size()), end);
}

#if !defined(_WIN32)
// A pipe that takes part of a message and then nothing (Windows' pipes may;
// natively a short write stands in) while the message may not wait: the
// message is lost with its line left open, and the notice of the loss
// starts on a line of its own, not glued to the half-written one.
TEST_F(ChannelReading, APipeThatTakesPartOfAMessageLeavesTheNoticeALineOfItsOwn) {
  DebugChannel channel;
  std::string error;
  std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
  ASSERT_TRUE(listener) << error;
  channelWriteMessage(&channel, "warn<P>: ", 9, "first\n", 6);
  const std::string half = "warn<P>: half a line\n";
  sim::shortWrite(0, 12, 0);
  channelBeginMessage(&channel);
  channel.pipe.messageMayWait = false;  // as in the second after a vain wait
  channelPutRun(&channel, half.data(), unsigned(half.size()));
  channelEndMessage(&channel);
  sim::reset();
  EXPECT_EQ(channel.pipe.lostMessages, 1u);
  channelWriteMessage(&channel, "warn<P>: ", 9, "next\n", 5);
  closeDebugChannel(&channel);
  EXPECT_EQ(PipeReading(listener.get()).receive(std::string::npos).data,
            "warn<P>: first\nwarn<P>: hal\n--- 1 messages lost: the reader was busy ---\nwarn<P>: next\n");
}

// A pipe whose write fails part-way (its reader went away) is replaced at
// once, here by the fallback, which gets the whole message from its start,
// whether it went out in one write or in several (a header, then its body's
// pieces); one whose start is no longer at hand is counted as lost.
TEST_F(ChannelReading, AMessageTheFailedPipeTookInPartComesWholeOnTheNextDevice) {
  const std::string longBody = std::string(5000, 'l') + "\n";
  const struct {
    const char* name;
    bool oneWrite;           // header and body joined (produced text), or printed in turn
    const std::string body;
    unsigned writesBefore;   // writes the pipe takes whole before the one that fails
    bool whole;              // the fallback gets it, else it is counted as lost
  } rows[] = {
      {"one write", true, "second message\n", 0, true},
      {"the body after its header", false, "second message\n", 1, true},
      {"a piece after the head the channel keeps", false, longBody, 5, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DeleteFileA(fallbackName.c_str());
    DebugChannel channel;
    std::string error;
    std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
    ASSERT_TRUE(listener) << error;
    channelWriteMessage(&channel, "warn<P>: ", 9, "one\n", 4);
    sim::shortWrite(row.writesBefore, 3, ERROR_NO_DATA);
    sim::failCall("CreateFileA", 0, 1, ERROR_FILE_NOT_FOUND);  // the pipe is not there when opened again
    if (row.oneWrite) {
      channelWriteMessage(&channel, "warn<P>: ", 9, row.body.data(), static_cast<unsigned>(row.body.size()));
    } else {
      channelBeginMessage(&channel);
      print(&channel, "warn<P>: ");
      print(&channel, "%s", row.body.c_str());
      channelEndMessage(&channel);
    }
    sim::reset();
    EXPECT_EQ(readWholeFile(fallbackName), row.whole ? "warn<P>: " + row.body : "");
    EXPECT_EQ(channel.pipe.lostMessages, row.whole ? 0u : 1u);
    closeDebugChannel(&channel);
    const Received got = PipeReading(listener.get()).receive(std::string::npos);
    EXPECT_EQ(got.data.rfind("warn<P>: one\nwar", 0), 0u) << "the first, then at most the head of the second";
    EXPECT_EQ(got.data.find(row.body), std::string::npos);
  }
}

// A pipe that takes a message, or the notice of lost ones, but for its final
// newline: the text has reached the reader, and the newline comes before the
// next message. When the pipe does not take that newline either, the next
// message is lost and counted; a notice counted once, never again.
TEST_F(ChannelReading, APipeThatTakesAllButTheNewlineCountsEachMessageOnce) {
  DebugChannel channel;
  std::string error;
  std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
  ASSERT_TRUE(listener) << error;
  auto message = [&](const std::string& body) {
    channel.pipe.waitedInVain = true;  // as within the second after a vain wait: nothing waits
    channel.pipe.waitedInVainTick = GetTickCount();
    channelWriteMessage(&channel, "warn<P>: ", 9, body.data(), static_cast<unsigned>(body.size()));
  };
  sim::shortWrite(0, 9 + 3, 0);
  message("one\n");  // all but its newline
  EXPECT_EQ(channel.pipe.lostMessages, 0u);
  sim::shortWrite(0, 0, 0);
  message("two\n");  // the newline owed is not taken: lost
  EXPECT_EQ(channel.pipe.lostMessages, 1u);
  const std::string notice = "\n--- 1 messages lost: the reader was busy ---";
  sim::shortWrite(0, static_cast<DWORD>(notice.size()), 0);
  message("three\n");  // the notice but its newline: told; the message itself lost
  EXPECT_EQ(channel.pipe.lostMessages, 1u);
  message("four\n");
  sim::reset();
  closeDebugChannel(&channel);
  EXPECT_EQ(PipeReading(listener.get()).receive(std::string::npos).data,
            "warn<P>: one\n--- 1 messages lost: the reader was busy ---\n"
            "--- 1 messages lost: the reader was busy ---\nwarn<P>: four\n");
}
#endif

// Many connections that never write, opened by another thread while the
// listener reads: each is taken, and a host's message after them comes
// through whole all the same.
TEST_F(ChannelReading, IdleConnectionsHoldUpNoHost) {
#if defined(_WIN32)
  constexpr int Idle = 200;  // Wine makes pipe instances slowly
#else
  constexpr int Idle = 1000;
#endif
  DebugChannel channel;
  std::string error;
  std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
  ASSERT_TRUE(listener) << error;
  const std::string path = "\\\\.\\pipe\\" + pipeName();
  std::vector<HANDLE> idle;
  std::thread writer([&] {
    while (idle.size() < Idle) {
      const HANDLE pipe = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (pipe != INVALID_HANDLE_VALUE) idle.push_back(pipe);
      else if (GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeA(path.c_str(), 1000);
      else break;
    }
    channelWriteMessage(&channel, "warn<P>: ", 9, "after them\n", 11);
  });
  PipeReading reading(listener.get());
  Received got;  // until the host's message has come, for a few seconds at a time
  for (int round = 0; round < 6 && got.data.empty(); ++round) {
    const Received more = reading.receive(1);
    got.data += more.data;
    got.pids.insert(got.pids.end(), more.pids.begin(), more.pids.end());
  }
  writer.join();
  EXPECT_EQ(idle.size(), size_t(Idle));
  EXPECT_EQ(got.data, "warn<P>: after them\n");
  EXPECT_EQ(got.pids.size(), size_t(Idle) + 1);
  for (HANDLE pipe : idle) CloseHandle(pipe);
  closeDebugChannel(&channel);
}

// A listener that serves at most two writers: a third, a host, finds no
// place and its message waits for none. Natively its connection waits in the
// system's queue with the message, which comes once an idle writer goes; on
// Windows the pipe is busy and the message goes to the fallback. The
// listener never takes more than two.
TEST_F(ChannelReading, AHostBeyondTheMostThePipeServesFallsBackOrWaitsInTheQueue) {
  writeConfig({true, 1, true, 2, Config::PipePath});
  std::string error;
  std::unique_ptr<PipeListener> listener = listenOnPipe(pipeName(), &error, 2);
  ASSERT_TRUE(listener) << error;
  ASSERT_EQ(listener->maxWriters(), 2u);
  DebugChannel channel;
  initDebugChannel(&channel, &devices);
  const std::string path = "\\\\.\\pipe\\" + pipeName();
  HANDLE idle[2];
  std::vector<PipeEvent> events;
  for (HANDLE& pipe : idle) {
    pipe = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << GetLastError();
    for (int i = 0; i < 50 && listener->writerCount() < 2; ++i) ASSERT_TRUE(listener->wait(&events, &error)) << error;
  }
  ASSERT_EQ(listener->writerCount(), 2u);
  channelWriteMessage(&channel, "warn<P>: ", 9, "beyond\n", 7);  // returns: the host is not held
  auto isArrival = [](const PipeEvent& event) { return event.kind == PipeEvent::Kind::Connected; };
  events.clear();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(listener->wait(&events, &error)) << error;
  EXPECT_EQ(std::count_if(events.begin(), events.end(), isArrival), 0) << "a third writer was taken";
  EXPECT_EQ(listener->writerCount(), 2u);
  CloseHandle(idle[0]);
  // What comes once a place is free: the idle writer's departure, and
  // natively the waiting host with its message.
  events.clear();
  std::string data;
  uint64_t host = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (data.find("beyond\n") == std::string::npos && std::chrono::steady_clock::now() < end) {
    const size_t from = events.size();
    ASSERT_TRUE(listener->wait(&events, &error)) << error;
    for (size_t i = from; i < events.size(); ++i) {
      if (isArrival(events[i])) host = events[i].writer;
      if (events[i].kind == PipeEvent::Kind::Data && host && events[i].writer == host) data += events[i].data;
    }
  }
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().kind, PipeEvent::Kind::Gone);
#if defined(_WIN32)
  EXPECT_EQ(readWholeFile(fallbackName), "warn<P>: beyond\n");
  EXPECT_EQ(host, 0u);
#else
  EXPECT_NE(data.find("warn<P>: beyond\n"), std::string::npos) << "the waiting host is taken once a place is free";
  EXPECT_EQ(readWholeFile(fallbackName), Missing);
#endif
  EXPECT_LE(listener->writerCount(), 2u);
  CloseHandle(idle[1]);
  closeDebugChannel(&channel);
}

// One wait takes at most MaxPipeReadsPerWait reads of at most
// PipeReadBytesPerWriter bytes however many writers have sent how much, and
// the writers it did not read are read first in the next wait: each of them
// within two.
TEST_F(ChannelReading, AWaitReadsABoundedShareOfEachWriter) {
  constexpr size_t Writers = MaxPipeReadsPerWait + 6;
  const std::string sent(PipeReadBytesPerWriter * 2 + 100, 'q');
  std::string error;
  std::unique_ptr<PipeListener> listener = listenOnPipe(pipeName(), &error);
  ASSERT_TRUE(listener) << error;
  const std::string path = "\\\\.\\pipe\\" + pipeName();
  std::vector<HANDLE> pipes;
  std::thread connecting([&] {
    while (pipes.size() < Writers) {
      const HANDLE pipe = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (pipe != INVALID_HANDLE_VALUE) pipes.push_back(pipe);
      else if (GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeA(path.c_str(), 1000);
      else break;
    }
  });
  std::vector<PipeEvent> events;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  size_t connected = 0;
  while (connected < Writers && std::chrono::steady_clock::now() < end) {
    events.clear();
    ASSERT_TRUE(listener->wait(&events, &error)) << error;
    connected += size_t(std::count_if(events.begin(), events.end(),
                                      [](const PipeEvent& event) { return event.kind == PipeEvent::Kind::Connected; }));
  }
  connecting.join();
  ASSERT_EQ(pipes.size(), Writers);
  for (HANDLE pipe : pipes) {
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(pipe, sent.data(), DWORD(sent.size()), &done, nullptr)) << GetLastError();
  }
  std::map<uint64_t, int> firstRead;  // by writer: the wait that first read its bytes
  size_t total = 0;
  for (int waits = 0; total < Writers * sent.size() && std::chrono::steady_clock::now() < end; ++waits) {
    events.clear();
    ASSERT_TRUE(listener->wait(&events, &error)) << error;
    size_t reads = 0;
    for (const PipeEvent& event : events) {
      if (event.kind != PipeEvent::Kind::Data) continue;
      ++reads;
      EXPECT_LE(event.data.size(), PipeReadBytesPerWriter);
      const size_t bytes = size_t(std::count(event.data.begin(), event.data.end(), 'q'));  // the hello has none
      if (bytes > 0) firstRead.emplace(event.writer, waits);
      total += bytes;
    }
    EXPECT_LE(reads, MaxPipeReadsPerWait);
  }
  EXPECT_EQ(total, Writers * sent.size());
  EXPECT_EQ(firstRead.size(), Writers);
  for (const auto& read : firstRead) EXPECT_LE(read.second, 1) << "writer " << read.first << " waited past its turn";
  for (HANDLE pipe : pipes) CloseHandle(pipe);
}

#if !defined(_WIN32)
// Where the process may open few files, the listener serves fewer writers
// and keeps ReservedDescriptors for its own: with writers waiting beyond the
// most it serves, it can still open the forwarder's connection and more.
TEST_F(ChannelReading, TheListenerKeepsDescriptorsForItsOwn) {
  constexpr rlim_t Limit = ReservedDescriptors + 8;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // As a listener starts: with the standard streams alone, not the
    // suite's files.
    for (int fd = 3; fd < 4096; ++fd)
      if (fd != ready[1]) close(fd);
    const rlimit files{Limit, Limit};
    std::string failure;
    std::unique_ptr<PipeListener> listener;
    if (setrlimit(RLIMIT_NOFILE, &files) != 0 || !(listener = listenOnPipe(pipeName(), &failure))) _exit(10);
    if (listener->maxWriters() != Limit - ReservedDescriptors) _exit(11);
    if (write(ready[1], "r", 1) != 1) _exit(12);
    std::vector<PipeEvent> events;
    for (int i = 0; i < 200 && listener->writerCount() < Limit - ReservedDescriptors; ++i) listener->wait(&events, &failure);
    for (int i = 0; i < 5; ++i) listener->wait(&events, &failure);  // the others wait
    if (listener->writerCount() != Limit - ReservedDescriptors) _exit(13);
    int opened = 0;
    while (opened < int(ReservedDescriptors) / 2 && socket(AF_INET, SOCK_STREAM, 0) >= 0) ++opened;
    _exit(opened == int(ReservedDescriptors) / 2 ? 0 : 14);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the listener did not start";
  close(ready[0]);
  const std::string path = "\\\\.\\pipe\\" + pipeName();
  std::vector<HANDLE> writers;
  for (rlim_t i = 0; i < Limit; ++i) {
    const HANDLE pipe = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) writers.push_back(pipe);
  }
  EXPECT_EQ(writers.size(), size_t(Limit)) << "they wait in the system's queue";
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no listener, 11: serves too many, 13: took another number, "
                                       "14: no descriptor left";
  for (HANDLE pipe : writers) CloseHandle(pipe);
}
#endif

// Device 4, the debugger: each message, header and body, reaches
// OutputDebugStringA in one call, or in pieces of at most 4,000 bytes, with
// escape sequences kept out; the close-after bit changes nothing, and
// standard error gets nothing.
TEST_F(ChannelReading, TheDebuggerGetsEachMessageInOneCallOrInPieces) {
  std::string error;
  std::unique_ptr<DebugOutputMonitor> monitor = monitorDebugOutput(&error);
  ASSERT_TRUE(monitor) << error;
  std::vector<DebugOutputText> texts;
  std::atomic<bool> done{false};
  const unsigned givenUpBefore = debugOutputGivenUp();
  std::thread receiver([&] {
    // A moment past the end, for what is still on its way.
    for (int after = 0; after < 3; after += done.load() ? 1 : 0) EXPECT_TRUE(monitor->wait(&texts, &error)) << error;
  });
  const std::string header = "warn<DBG>: ";
  const size_t lengths[] = {1, 3000, 9000};
  std::vector<std::string> expected;  // the calls, in order
  for (DWORD type : {4u, 0x104u}) {
    writeConfig({true, 1, true, type, Config::GoodPath});
    DebugChannel channel;
    initDebugChannel(&channel, &devices);
    for (size_t length : lengths) {
      const std::string body = "\x1b[31m" + std::string(length - 1, char('a' + length % 26)) + "\n";
      channelWriteMessage(&channel, header.data(), unsigned(header.size()), body.data(), unsigned(body.size()));
      const std::string kept = header + body.substr(5);
      for (size_t at = 0; at < kept.size(); at += DebuggerPieceSize) expected.push_back(kept.substr(at, DebuggerPieceSize));
    }
    print(&channel, "%s<%s>: ", "warn", "DBG");
    print(&channel, "printed %d\n", 2);  // two prints outside a message: two calls
    expected.push_back("warn<DBG>: ");
    expected.push_back("printed 2\n");
    closeDebugChannel(&channel);
  }
  done = true;
  receiver.join();
  std::vector<std::string> got;
  for (const DebugOutputText& text : texts)
    if (text.pid == thisProcess()) got.push_back(text.text);
  std::string sizes;
  for (const std::string& text : got) sizes += std::to_string(text.size()) + " ";
  // Natively a receiver descheduled past the emulation's wait (a loaded
  // machine) loses texts, which the emulation counts: what came is then the
  // calls in order with exactly those gaps.
  const size_t givenUp = debugOutputGivenUp() - givenUpBefore;
  ASSERT_EQ(got.size() + givenUp, expected.size()) << sizes;
  size_t next = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    while (next < expected.size() && next - i < givenUp && !(got[i] == expected[next])) ++next;
    ASSERT_TRUE(next < expected.size() && got[i] == expected[next]) << "call " << i << ": " << got[i].substr(0, 40);
    ++next;
  }
  EXPECT_EQ(readWholeFile(path("stderr.txt")), "");
  EXPECT_EQ(readWholeFile(path("channel.txt")), Missing);
}

#if !defined(_WIN32)
// A forked child's messages reach the reader as the child's, not its parent's.
TEST_F(ChannelReading, AForkedChildWritesAsItself) {
  DebugChannel channel;
  std::string error;
  std::unique_ptr<PipeListener> listener = servePipeChannel(&channel, &error);
  ASSERT_TRUE(listener) << error;
  channelWriteMessage(&channel, "warn<P>: ", 9, "parent\n", 7);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    channelWriteMessage(&channel, "warn<P>: ", 9, "child\n", 6);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  closeDebugChannel(&channel);
  const Received got = PipeReading(listener.get()).receive(31);
  EXPECT_EQ(got.data, "warn<P>: parent\nwarn<P>: child\n");
  ASSERT_EQ(got.pids.size(), 2u);
  EXPECT_EQ(got.pids[0], uint32_t(getpid()));
  EXPECT_EQ(got.pids[1], uint32_t(child));
}
#endif

}  // namespace

}  // namespace trovex

