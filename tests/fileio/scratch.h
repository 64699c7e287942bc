// Helpers of the file layer's tests: a scratch directory of the test's own,
// and whole-file reads and writes made with Win32 calls, so that the same
// test runs natively and under Wine.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fileio/fileio.h"
#include "platform/win32.h"
#if !defined(_WIN32)
#include "platform/posix/sim.h"
#endif

namespace trovex {

// A character device that accepts writes: both platforms report it as FILE_TYPE_CHAR.
#if defined(_WIN32)
constexpr const char* CharDevice = "NUL";
#else
constexpr const char* CharDevice = "/dev/null";
#endif

// A fresh directory under the temporary directory, removed with everything
// in it (read-only files included) at the end of the test.
class ScratchTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The full name of `name` inside the scratch directory.
  std::string path(const std::string& name) const;
  std::string root;
};

// Creates or replaces a file with the given bytes.
void writeWholeFile(const std::string& name, const std::string& content);
// The bytes of a file, read while others may have it open; "<missing>" if it cannot be opened.
std::string readWholeFile(const std::string& name);
// Bytes 0, 1, 2, ... 250, 0, 1, ...: a pattern in which a shifted or lost byte shows.
std::string patternBytes(size_t size);
// True when writing a read-only file fails, as on Windows; false under Wine
// run by root, where the read-only attribute does not keep the owner out.
bool readOnlyIsEnforced(const std::string& scratchFile);

#if !defined(_WIN32)

// Scratch tests that arm the emulation's test controls, all switched off
// again after each test.
class SimTest : public ScratchTest {
 protected:
  void TearDown() override {
    sim::reset();
    ScratchTest::TearDown();
  }
};
#endif

}  // namespace trovex
