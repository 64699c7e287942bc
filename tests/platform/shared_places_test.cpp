// The places the emulation shares between the user's processes follow
// XDG_RUNTIME_DIR: each case runs in a process of its own, started with the
// variable set, since the library reads it from its start.
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "another_process.h"
#include "fileio/scratch.h"
#include "platform/paths.h"
#include "platform/posix/pipes.h"

namespace trovex {

namespace {

// How the child finds its variable: followed, ignored, or too long for a
// socket's address.
const char ExpectationVariable[] = "TROVEX_SHARED_PLACES_EXPECT";
constexpr int ChildChecked = 20;  // a skipped or crashed child exits otherwise

class SharedPlaces : public ScratchTest {};

// A runtime folder whose shared folder (RUNTIME/trovex) is `length` bytes.
std::string runtimeForFolderLength(size_t length) { return "/" + std::string(length - sizeof "/trovex", 'r'); }

}  // namespace

TEST(SharedPlacesChild, FollowTheRuntimeFolder) {
  const char* expectation = std::getenv(ExpectationVariable);
  if (!expectation) GTEST_SKIP() << "runs only as the other process of a shared-places row";
  const char* runtimeValue = std::getenv("XDG_RUNTIME_DIR");
  const std::string runtime = runtimeValue ? runtimeValue : "";
  char folder[sizeof(sockaddr_un::sun_path)];
  char socketPath[sizeof(sockaddr_un::sun_path)];
  errno = 0;
  const bool folderFits = win32::sharedFolder(folder, sizeof folder);
  const int folderError = errno;
  if (std::strcmp(expectation, "too long") == 0) {
    EXPECT_FALSE(folderFits);
    EXPECT_EQ(folderError, ENAMETOOLONG);
    errno = 0;
    EXPECT_FALSE(win32::pipeSocketPath("p", socketPath, sizeof socketPath));
    EXPECT_EQ(errno, ENAMETOOLONG);
    errno = 0;
    EXPECT_FALSE(win32::debugOutputSocketPath(socketPath, sizeof socketPath));
    EXPECT_EQ(errno, ENAMETOOLONG);
    errno = 0;
    EXPECT_FALSE(win32::securePipeFolder(true));
    EXPECT_EQ(errno, ENAMETOOLONG);
  } else {
    const bool followed = std::strcmp(expectation, "followed") == 0;
    ASSERT_TRUE(folderFits) << runtime;
    EXPECT_EQ(folder, followed ? runtime + "/trovex" : "/tmp/trovex-" + std::to_string(getuid()));
    EXPECT_EQ(channelFallbackFiles()[0], (followed ? runtime : "/tmp") + "/kprintf.txt");
    EXPECT_STREQ(channelFallbackFiles()[1], "kprintf.txt");
    ASSERT_TRUE(win32::debugOutputSocketPath(socketPath, sizeof socketPath));
    EXPECT_EQ(socketPath, std::string(folder) + "/debug-output");
    ASSERT_TRUE(win32::pipeSocketPath("p", socketPath, sizeof socketPath));
    EXPECT_EQ(socketPath, std::string(folder) + "/p");
    // A runtime folder that exists gets the shared folder, the user's alone.
    struct stat status;
    if (followed && stat(runtime.c_str(), &status) == 0) {
      EXPECT_TRUE(win32::securePipeFolder(true));
      ASSERT_EQ(stat(folder, &status), 0);
      EXPECT_EQ(status.st_mode & 0777, 0700u);
    }
  }
  std::_Exit(testing::Test::HasFailure() ? 1 : ChildChecked);
}

TEST_F(SharedPlaces, FollowXdgRuntimeDirWhenItNamesAFolder) {
  const std::string runtime = path("run");
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  const struct {
    const char* name;
    std::string runtime;
    const char* expectation;
  } rows[] = {
      {"a runtime folder", runtime, "followed"},
      {"an empty variable", "", "ignored"},
      {"a relative path", "run", "ignored"},
      // The debug-output socket just fits in a socket's address (107 bytes and its end).
      {"the longest shared folder", runtimeForFolderLength(sizeof(sockaddr_un::sun_path) - sizeof "/debug-output"),
       "followed"},
      {"one byte more", runtimeForFolderLength(sizeof(sockaddr_un::sun_path) - sizeof "/debug-output" + 1), "too long"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(runTestInAnotherProcess("SharedPlacesChild.FollowTheRuntimeFolder",
                                      {{"XDG_RUNTIME_DIR", row.runtime}, {ExpectationVariable, row.expectation}}),
              ChildChecked)
        << row.name;
  }
}

}  // namespace trovex
#endif
