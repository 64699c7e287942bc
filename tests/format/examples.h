// Tables of format examples: a format, its arguments as the user's reference
// writes them, the exact output, and the call that produces it. The
// reference's example rows are checked against these tables.
#pragma once

#include <string>
#include <vector>

#include "support.h"

namespace trovex {

struct FormatExample {
  const char* format;     // the format string
  const char* arguments;  // the arguments as the reference shows them
  std::string expected;   // every byte produced, zero bytes included
  std::string (*run)();   // runs the format with the real arguments
};

// A row whose expected output may hold zero bytes (a string literal's full size).
#define FORMAT_EXAMPLE(format, arguments, expected, ...)                           \
  FormatExample {                                                                  \
    format, arguments, std::string(expected, sizeof(expected) - 1),                \
        [] { return formatted(format, __VA_ARGS__); }                              \
  }

extern const std::vector<FormatExample> integerExamples;  // integer_test.cpp
extern const std::vector<FormatExample> floatExamples;    // float_test.cpp
extern const std::vector<FormatExample> textExamples;     // reference_test.cpp

// Runs every row of a table and reports each row that differs.
void expectExamples(const std::vector<FormatExample>& table);

}  // namespace trovex
