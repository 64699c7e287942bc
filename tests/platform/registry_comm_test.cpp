// The registry calls the debug channel makes, in the Wine style (call, exact
// result), run against the emulation natively and against Wine's advapi32;
// natively also the seeding from the environment and the serial-port
// settings on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/win32.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "debugchannel/device.h"
#include "platform/posix/sim.h"
#endif

namespace trovex {

namespace {

const char TestKey[] = "trovex-test\\sizes";

TEST(Registry, QueriesFollowTheSizeRules) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, TestKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const DWORD number = 0x102;
  ASSERT_EQ(RegSetValueExA(key, "type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "path", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 4), ERROR_SUCCESS);

  HKEY reader;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, TestKey, 0, KEY_READ, &reader), ERROR_SUCCESS);
  DWORD value = 0, size = 4, type = 0;
  EXPECT_EQ(RegQueryValueExA(reader, "type", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 0x102u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

  char text[8] = "zzzzzzz";
  size = 3;
  EXPECT_EQ(RegQueryValueExA(reader, "path", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u) << "the size needed";
  size = 4;
  EXPECT_EQ(RegQueryValueExA(reader, "path", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_STREQ(text, "abc");
  size = 0;
  EXPECT_EQ(RegQueryValueExA(reader, "path", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  size = 4;
  EXPECT_EQ(RegQueryValueExA(reader, "missing", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "trovex-test"), ERROR_ACCESS_DENIED) << "it has a subkey";
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, TestKey), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "trovex-test"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, TestKey, 0, KEY_READ, &reader), ERROR_FILE_NOT_FOUND);
}

#if !defined(_WIN32)

TEST(Registry, ChannelKeyIsSeededFromTheEnvironment) {
  const struct {
    const char *use, *type, *path;
    DWORD wantUse, wantType;
    const char* wantPath;  // null: no value
  } rows[] = {
      {"1", "0x102", "/tmp/k.txt", 1, 0x102, "/tmp/k.txt"},
      {"1", "3", nullptr, 1, 3, nullptr},
      {"1", "two", "x", 1, 0xFFFFFFFF, "x"},  // not a number: not seeded
  };
  for (const auto& row : rows) {
    setenv("TROVEX_CHANNEL_USE", row.use, 1);
    setenv("TROVEX_CHANNEL_TYPE", row.type, 1);
    if (row.path) setenv("TROVEX_CHANNEL_PATH", row.path, 1);
    else unsetenv("TROVEX_CHANNEL_PATH");
    sim::resetRegistry();
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "qz\\kprintf", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD use = 0xFFFFFFFF, type = 0xFFFFFFFF, size = 4;
    RegQueryValueExA(key, "use", nullptr, nullptr, reinterpret_cast<BYTE*>(&use), &size);
    size = 4;
    RegQueryValueExA(key, "type", nullptr, nullptr, reinterpret_cast<BYTE*>(&type), &size);
    char path[64] = {};
    size = sizeof path;
    const LSTATUS pathStatus = RegQueryValueExA(key, "path", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    EXPECT_EQ(use, row.wantUse) << row.type;
    EXPECT_EQ(type, row.wantType) << row.type;
    EXPECT_EQ(pathStatus, row.wantPath ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND) << row.type;
    if (row.wantPath) {
      EXPECT_STREQ(path, row.wantPath);
    }
  }
  unsetenv("TROVEX_CHANNEL_USE");
  unsetenv("TROVEX_CHANNEL_TYPE");
  unsetenv("TROVEX_CHANNEL_PATH");
  sim::resetRegistry();
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "qz\\kprintf", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

// A pseudo-terminal standing in for the serial port.
class SerialPort : public testing::Test {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    portName = ptsname(master);
  }
  void TearDown() override {
    close(master);
    sim::reset();
  }
  std::string drain() {
    std::string bytes;
    char chunk[256];
    fcntl(master, F_SETFL, O_NONBLOCK);
    for (ssize_t n; (n = read(master, chunk, sizeof chunk)) > 0;) bytes.append(chunk, static_cast<size_t>(n));
    return bytes;
  }
  int master = -1;
  std::string portName;
};

TEST_F(SerialPort, LineSettingsAreReadBackAndTheBytesArriveExactly) {
  const char* const noFallbacks[] = {""};
  const ChannelDevices devices = {portName.c_str(), noFallbacks, 0};
  DebugChannel channel;
  initDebugChannel(&channel, &devices);
  channel.configLoaded = true;
  channel.channelType = SerialDevice;
  va_list* noArgs = nullptr;
  channelPrint(&channel, "warn<ID>: \x1b[1mbold\x1b[0m\r\n\tend\n", noArgs);

  DCB line{};
  line.DCBlength = sizeof line;
  ASSERT_TRUE(GetCommState(channel.deviceHandle, &line));
  EXPECT_EQ(line.BaudRate, 19200u);
  EXPECT_EQ(line.ByteSize, 8);
  EXPECT_EQ(line.StopBits, ONESTOPBIT);
  EXPECT_EQ(line.fParity, 0u);
  closeDebugChannel(&channel);
  EXPECT_EQ(drain(), "warn<ID>: bold\r\n\tend\n") << "raw line: no byte added or changed";
}

TEST_F(SerialPort, SettingsAreNotWrittenWhenTheyCouldNotBeRead) {
  const char* const noFallbacks[] = {""};
  const ChannelDevices devices = {portName.c_str(), noFallbacks, 0};
  for (bool readFails : {false, true}) {
    DebugChannel channel;
    initDebugChannel(&channel, &devices);
    channel.configLoaded = true;
    channel.channelType = SerialDevice | CloseAfterPrint;
    sim::countCalls("SetCommState");
    if (readFails) sim::failCall("GetCommState", 0, 1, ERROR_INVALID_HANDLE);
    va_list* noArgs = nullptr;
    channelPrint(&channel, "x", noArgs);
    EXPECT_EQ(sim::callCount("SetCommState"), readFails ? 0u : 1u);
    closeDebugChannel(&channel);
    sim::reset();
  }
  EXPECT_EQ(drain(), "xx");
}

#endif

}  // namespace

}  // namespace trovex
