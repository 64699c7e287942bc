// A host that dies right after a keep-open error message still leaves that
// message in the protocol file: the error is written through at its end,
// while other keep-open text waits in the buffer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "trovex.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

// The dying host: messages into `name`, then the process ends at once, with
// no unload of the library.
[[noreturn]] void emitAndDie(const std::string& name) {
  Trovex_EnableOutput_ii(1, 0);
  Trovex_Filename_s(name.c_str());
  Trovex_CPrintf("w", "CRASH", "before\n");
  Trovex_CPrintf("e", "CRASH", "the last words\n");
  Trovex_CPrintf("w", "CRASH", "lost in the buffer\n");
#if defined(_WIN32)
  TerminateProcess(GetCurrentProcess(), 3);
#endif
  _exit(3);
}

// Under Windows the dying host is this program again, started with one test
// selected and the file named in the environment.
TEST(HostCrash, Child) {
  const char* name = std::getenv("TROVEX_CRASH_FILE");
  if (!name) GTEST_SKIP() << "runs only as the dying host";
  emitAndDie(name);
}

TEST(HostCrash, AnErrorSurvivesTheHostsSuddenEnd) {
  const fs::path name = fs::temp_directory_path() / "trovex-crash.log";
  fs::remove(name);
#if defined(_WIN32)
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  SetEnvironmentVariableA("TROVEX_CRASH_FILE", name.string().c_str());
  std::string command = std::string("\"") + self + "\" --gtest_filter=HostCrash.Child";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableA("TROVEX_CRASH_FILE", nullptr);
  ASSERT_TRUE(started);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(status, 3u);
#else
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) emitAndDie(name.string());
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
#endif
  std::ifstream file(name, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), "\nwarn<CRASH>: before\nerror<CRASH>: the last words\n");
  file.close();
  fs::remove(name);
}

}  // namespace
