#include "another_process.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace trovex {

int runTestInAnotherProcess(const char* testName, const char* variable, const std::string& value) {
  return runTestInAnotherProcess(testName, EnvironmentVariables{{variable, value}});
}

int runTestInAnotherProcess(const char* testName, const EnvironmentVariables& variables) {
  const std::string filter = std::string("--gtest_filter=") + testName;
#if defined(_WIN32)
  char self[MAX_PATH];
  if (GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) return -1;
  std::string command = std::string("\"") + self + "\" " + filter;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  for (const auto& variable : variables) SetEnvironmentVariableA(variable.first.c_str(), variable.second.c_str());
  const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  for (const auto& variable : variables) SetEnvironmentVariableA(variable.first.c_str(), nullptr);
  if (!started) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
#else
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    for (const auto& variable : variables) setenv(variable.first.c_str(), variable.second.c_str(), 1);
    execl("/proc/self/exe", "trovex_tests", filter.c_str(), "--gtest_brief=1", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
#endif
}

}  // namespace trovex
