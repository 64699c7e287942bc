// The protocol file through the exports, as a host sees it: the file's bytes,
// the name read back, the copy.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "trovex.h"

namespace {

namespace fs = std::filesystem;

std::string contentOf(const fs::path& name) {
  std::ifstream file(name, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(HostProtocol, MessagesReadBackAndCopy) {
  const fs::path directory = fs::temp_directory_path() / "trovex-host-protocol";
  fs::remove_all(directory);
  fs::create_directories(directory);
  const fs::path name = directory / "host.log", copy = directory / "copy.log";
  Trovex_EnableOutput_ii(1, 0);
  Trovex_Printf(NULL, NULL, "\n");  // whatever ran before, the next header starts a line
  ASSERT_EQ(Trovex_Filename_s(name.string().c_str()), 1);
  Trovex_Printf("w", "NET", "retry %d\n", 2);
  Trovex_CPrintf("e", "DISK", "full");
  Trovex_CPrintf(NULL, NULL, " at %s", "C:");
  Trovex_Printf("i", "NET", "up\n");
  EXPECT_EQ(contentOf(name), "warn<NET>: retry 2\nerror<DISK>: full at C:\ninit<NET>: up\n");

  char buffer[1024];
  EXPECT_EQ(Trovex_ReadFilename_sii(buffer, sizeof buffer, 1), 1);
  EXPECT_EQ(fs::path(buffer), name);
  EXPECT_EQ(Trovex_CopyFile_si(copy.string().c_str(), 0), 1);
  EXPECT_EQ(Trovex_CopyFile_si(copy.string().c_str(), 1), 1);
  const std::string once = contentOf(name);
  EXPECT_EQ(contentOf(copy), once + once);

  Trovex_Filename_s(NULL);
  Trovex_EnableOutput_ii(1, 1);
  fs::remove_all(directory);
}

}  // namespace
