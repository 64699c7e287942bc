// Every platform call that a full workload makes fails in turn, once, and
// each platform function also fails for good: the library never crashes,
// never leaks (LeakSanitizer in the sanitizer build, open descriptors here),
// the callback still receives every message whole, the channel and the
// protocol file take messages again once the fault is gone, and the protocol
// file holds only whole messages. Natively only: it needs the emulation's
// fault injection.
#if !defined(_WIN32)
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/module.h"
#include "debugchannel/device.h"
#include "dispatch/emit.h"
#include "fileio/scratch.h"
#include "platform/posix/sim.h"
#include "protocol/protocol.h"
#include "report/sections.h"
#include "trovex.h"

namespace trovex {

namespace {

// Every emulated function the library calls that can be made to fail (a
// failed FindClose or HeapFree would only leak what the system keeps).
const char* const FallibleCalls[] = {
    "CloseHandle", "CreateFileA", "DeleteFileA", "FileTimeToLocalFileTime", "FindFirstFileA",
    "GetCommState", "GetCurrentDirectoryA", "GetDiskFreeSpaceA", "GetFileAttributesA", "GetFileSize",
    "GetFileType", "GetLogicalDriveStringsA", "GetModuleHandleA", "GetProcAddress", "GetTempPathA",
    "GetVersionExA", "GetVolumeInformationA", "GlobalMemoryStatus", "GlobalMemoryStatusEx", "HeapAlloc",
    "IsProcessorFeaturePresent", "LocalFileTimeToFileTime", "QueryDosDeviceA", "ReadFile", "RegCloseKey",
    "RegCreateKeyExA", "RegDeleteKeyA", "RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA",
    "SetCommState", "SetFileAttributesA", "SetFilePointer", "SetFileTime", "SetStdHandle",
    "SystemTimeToFileTime", "WriteFile"};

// One message as the callback saw it.
struct Message {
  bool header;
  std::string label, id, body;
  bool whole;  // header, data and end calls arrived in order
};
std::vector<Message> messages;
bool inMessage;

void TROVEX_CALL recordMessage(const char* label, const char* id, const char* data, int length) {
  if (!inMessage) messages.push_back(Message{false, "", "", "", true});
  inMessage = true;
  Message& message = messages.back();
  if (label || id) {
    if (message.header || !message.body.empty()) message.whole = false;
    message.header = true;
    message.label = label ? label : "";
    message.id = id ? id : "";
  } else if (data) {
    message.body.append(data, length);
  } else {
    inMessage = false;
  }
}

long openDescriptors() {
  DIR* directory = opendir("/proc/self/fd");
  long count = 0;
  while (readdir(directory)) ++count;
  closedir(directory);
  return count;
}

void emitToContext(void* state, bool keepOpen, const char* format, va_list* args) {
  emitMessage(static_cast<OutputContext*>(state), nullptr, nullptr, format, args, keepOpen);
}

const SYSTEMTIME FixedTime = {2024, 2, 4, 29, 13, 45, 30, 0};
const sim::Drive Drives[] = {
    {"C:\\", DRIVE_FIXED, "SYSTEM", "NTFS", "\\Device\\HarddiskVolume1", 512ull << 20, 4096ull << 20, false},
    {"A:\\", DRIVE_REMOVABLE, "", "", "\\Device\\Floppy0", 0, 0, true}};

// The texts of the host's own messages and the time stamp, in order.
// (The stamp's text depends on the clock, which may fail.)
const char* const OwnTexts[] = {"first 1\n", "second message\n", "kept open 3\n", nullptr, "after the stamp\n",
                                "end of the workload\n"};

class FaultSweep : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    for (int i = 0; i < 250; ++i) oldText += (i % 12 == 0 ? "\f" : "") + std::string("old line ") + std::to_string(i) + "\n";
    devices = ChannelDevices{"/nonexistent/serial", fallbackNames, 1};
  }
  void TearDown() override {
    shutDownLibrary();
    startUpLibrary();
    SimTest::TearDown();
  }

  void fixSystem() {
    sim::fixLocalTime(&FixedTime);
    sim::setDrives(Drives, 2);
  }

  // A fresh library and files; the fault is armed by `arm` before the
  // library starts, so that its start-up is part of the sweep.
  template <typename Arm>
  void runWorkload(Arm arm) {
    shutDownLibrary();
    sim::reset();
    fixSystem();
    // Files of their own: a handle whose close failed keeps its file open,
    // unshared, for the rest of the process.
    const std::string run = std::to_string(runs++);
    protocol = path("protocol" + run + ".txt");
    channel = path("channel" + run + ".txt");
    fallback = path("fallback" + run + ".txt");
    copy = path("copy" + run + ".txt");
    fallbackNames[0] = fallback.c_str();
    writeWholeFile(protocol, oldText);
    messages.clear();
    inMessage = false;
    arm();

    startUpLibrary();
    // The channel writes a file of the scratch directory, opened for every
    // print, with a fallback there too.
    debugChannel.channelType = FileDevice | CloseAfterPrint;
    std::strcpy(debugChannel.pathValue, channel.c_str());
    debugChannel.pathSet = true;
    debugChannel.configLoaded = true;
    debugChannel.devices = &devices;
    // A small size limit, so that the second open cuts the file.
    protocolFile.sizeLimit = 2000;
    protocolFile.keepSize = 500;

    Trovex_Func_i(recordMessage);
    Trovex_FileOpenMode_s("a");
    Trovex_Filename_s(protocol.c_str());
    Trovex_Printf("w", "NET", "first %d\n", 1);
    Trovex_Printf("e", "DISK", "second %s\n", "message");
    Trovex_CPrintf("i", "INIT", "kept open %d\n", 3);
    Trovex_PrintTime_sss("w", "TIME", "%d.%m.%Y %H:%M:%S ");
    Trovex_CPrintf("w", "AFTER", "after the stamp\n");
    std::atomic_flag detailsShown = ATOMIC_FLAG_INIT;
    FeatureProbe probe{};
    const ReportSink sink{emitToContext, &outputContext};
    printSystemReport(&sink, &detailsShown, &probe);
    char name[FileNameSize];
    Trovex_ReadFilename_sii(name, sizeof name, 1);
    Trovex_CopyFile_si(copy.c_str(), 0);
    Trovex_CopyFile_si(copy.c_str(), 1);
    Trovex_CPrintf("e", "END", "end of the workload\n");

    if (counted) countedCalls = sim::callCount(counted);
    sim::reset();
    fixSystem();
    sim::advanceTicks(PathRetryMilliseconds);  // a channel on its fallback tries its path again a second later
    Trovex_Printf("w", "FINAL", "after the fault\n");
  }

  // The protocol file as it must be: the old text, or the marker and its
  // tail, then whole messages in order, ending with the final one. After a
  // failed close the file stays open and unshared, so the final message may
  // be missing; a file that can be emptied but never written loses its text.
  std::string checkProtocolFile(bool closeFailed, bool writesFail) {
    std::string text = readWholeFile(protocol);
    size_t at = 0;
    if (writesFail && text.compare(0, oldText.size(), oldText) != 0 && text.compare(0, 15, "--- Trunced at ") != 0) {
      // emptied by the cut, which could not write it again
    } else if (text.compare(0, oldText.size(), oldText) == 0) {
      at = oldText.size();
    } else {
      const size_t markerEnd = text.find(" ---\n\n");
      const std::string tail = oldText.substr(oldText.rfind('\f', oldText.size() - 500 + 1));
      if (text.compare(0, 15, "--- Trunced at ") != 0 || markerEnd == std::string::npos ||
          text.compare(markerEnd + 6, tail.size(), tail) != 0)
        return "neither the old text nor its cut";
      at = markerEnd + 6 + tail.size();
    }
    size_t next = 0;
    size_t owed = 0;  // messages a notice said were lost, which must be missing before the next one
    while (at < text.size()) {
      const size_t lead = text.compare(at, 1, "\n") == 0 ? 1 : 0;
      unsigned lost = 0;
      int noticeLength = 0;
      if (std::sscanf(text.c_str() + at + lead, "--- %u messages lost: the protocol file could not be opened ---\n%n",
                      &lost, &noticeLength) == 1 &&
          noticeLength > 0) {
        if (lost == 0) return "a notice of no lost messages";
        at += lead + static_cast<size_t>(noticeLength);
        owed = lost;
        continue;
      }
      const size_t skippedFrom = next;
      bool found = false;
      for (; next < messages.size() && !found; ++next) {
        const Message& m = messages[next];
        const std::string header = m.header ? m.label + "<" + m.id + ">: " : "";
        for (const char* lead : {"", "\n"}) {
          if (*lead && !m.header) break;  // only a header opens a new line
          const std::string piece = lead + header + m.body;
          if (text.compare(at, piece.size(), piece) == 0) {
            at += piece.size();
            found = true;
            break;
          }
        }
      }
      if (!found) return "no whole message at byte " + std::to_string(at) + ": " + text.substr(at, 60);
      if (next - 1 - skippedFrom < owed) return "a notice counts more messages than are missing";
      owed = 0;
    }
    if (next != messages.size() && !closeFailed) return "the final message is missing";
    return "";
  }

  std::string checkMessages(bool closeFailed, bool closeAlways) {
    size_t own = 0;
    for (const Message& m : messages) {
      if (!m.whole) return "a message's calls came out of order";
      if (own < std::size(OwnTexts) && (!OwnTexts[own] || m.body == OwnTexts[own])) ++own;
    }
    if (own != std::size(OwnTexts)) return "the callback missed a message of the host";
    if (messages.empty() || messages.back().id != "FINAL") return "the callback missed the final message";
    const std::string last = "warn<FINAL>: after the fault\n";
    auto endsWithLast = [&](const std::string& text) {
      return text.size() >= last.size() && text.compare(text.size() - last.size(), last.size(), last) == 0;
    };
    // After a failed close the channel's file stays open and its fallback
    // takes over; with every close failing, standard error takes both.
    if (!closeAlways && !endsWithLast(readWholeFile(channel)) &&
        !(closeFailed && endsWithLast(readWholeFile(fallback))))
      return "the channel does not end with the final message";
    return "";
  }

  unsigned runs = 0;
  const char* counted = nullptr;  // a call whose uses the workload counts
  unsigned countedCalls = 0;      // its uses in the last workload, before the final message
  std::string protocol, channel, fallback, copy, oldText;
  const char* fallbackNames[1];
  ChannelDevices devices;
};

TEST_F(FaultSweep, EveryPlatformCallFailsInTurn) {
  runWorkload([] {});
  ASSERT_EQ(checkMessages(false, false), "");
  ASSERT_EQ(checkProtocolFile(false, false), "");
  ASSERT_NE(readWholeFile(protocol).find("--- Trunced at "), std::string::npos) << "the workload cuts the file";

  unsigned points = 0;
  std::string perCall;  // fault points of each call, for the record
  std::vector<std::string> faults;
  auto check = [&](const std::string& point, bool closeFailed, bool always) {
    ++points;
    const bool writesFail = always && point.compare(0, 9, "WriteFile") == 0;
    for (const std::string& fault :
         {checkMessages(closeFailed, closeFailed && always), checkProtocolFile(closeFailed, writesFail)})
      if (!fault.empty()) faults.push_back(point + ": " + fault);
  };
  for (const char* call : FallibleCalls) {
    counted = call;
    runWorkload([&] { sim::countCalls(call); });
    counted = nullptr;
    const unsigned calls = countedCalls;
    if (calls > 0) perCall += std::string(perCall.empty() ? "" : ", ") + call + " " + std::to_string(calls + 1);
    // A failed close loses its descriptor in any program; the others must not.
    const bool closes = std::strcmp(call, "CloseHandle") == 0;
    for (unsigned k = 0; k <= calls && calls > 0; ++k) {
      const long descriptors = openDescriptors();
      // k < calls: the call fails once, at its k-th use; k == calls: from the first use on.
      runWorkload([&] { sim::failCall(call, k < calls ? k : 0, k < calls ? 1 : 0, ERROR_ACCESS_DENIED); });
      const std::string point = std::string(call) + (k < calls ? " #" + std::to_string(k) : " always");
      check(point, closes, k == calls);
      if (!closes && openDescriptors() != descriptors) faults.push_back(point + ": a descriptor leaked");
    }
  }
  std::printf("fault points tried: %u (%s)\n", points, perCall.c_str());
  EXPECT_GT(points, 100u);
  std::string list;
  for (const std::string& fault : faults) list += fault + "\n";
  EXPECT_TRUE(faults.empty()) << list;
}

}  // namespace

}  // namespace trovex
#endif
