// The settings lock: setters hold it for the copy of one value, messages for
// the copy of a value that changed. It never covers host code or a message,
// so a setter never waits for either.
#pragma once

#include "platform/win32.h"

namespace trovex {

// Set up at library load, deleted at unload. Hold it with SectionHold
// (common/hold.h): before load, or in a program that links the library's
// objects without loading it, it is null and a hold does nothing.
void initSettingsLock();
void deleteSettingsLock();
CRITICAL_SECTION* settingsLock();

// Copies a setter's text into its field of `size` bytes, cut to size - 1
// characters and always terminated; null is empty text.
void copyCut(char* field, const char* text, unsigned size);

}  // namespace trovex
