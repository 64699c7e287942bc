// Runs one test of this program in a process of its own: a fresh start of the
// program (not a fork, whose child would share this process's emulated
// tables), with one value handed over in the environment.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace trovex {

// The child's exit status, or -1 when it could not be started. The child is
// the test `testName`, which finds `value` in the environment variable
// `variable` and skips when it is not set.
int runTestInAnotherProcess(const char* testName, const char* variable, const std::string& value);

// The same with several variables set (name, value) before the child starts.
using EnvironmentVariables = std::vector<std::pair<std::string, std::string>>;
int runTestInAnotherProcess(const char* testName, const EnvironmentVariables& variables);

}  // namespace trovex
