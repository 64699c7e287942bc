// A critical section held for one scope.
#pragma once

#include "platform/win32.h"

namespace trovex {

// Enters the section on construction and leaves it at the end of the scope;
// a null section is not held (a lock not set up, a stream without one).
class SectionHold {
 public:
  explicit SectionHold(CRITICAL_SECTION* section) : section_(section) {
    if (section_) EnterCriticalSection(section_);
  }
  ~SectionHold() {
    if (section_) LeaveCriticalSection(section_);
  }
  SectionHold(const SectionHold&) = delete;
  SectionHold& operator=(const SectionHold&) = delete;

 private:
  CRITICAL_SECTION* section_;
};

}  // namespace trovex
