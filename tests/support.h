// Helpers shared by the unit tests.
#pragma once

#include <cstdarg>
#include <string>

#include "format/format.h"

namespace trovex {

// Runs a format with its arguments through the engine and returns every
// character produced, zero bytes included.
std::string formatted(const char* format, ...);
std::string vformatted(const char* format, va_list args);

}  // namespace trovex
