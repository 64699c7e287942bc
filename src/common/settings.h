// The settings lock: setters hold it for the copy of one value, messages for
// the copy of a value that changed. It never covers host code or a message,
// so a setter never waits for either.
#pragma once

#include "platform/win32.h"

// Set up at library load, deleted at unload. Before load (or in a program
// that links the library's objects without loading it) holds do nothing.
void initSettingsLock();
void deleteSettingsLock();

class SettingsHold {
 public:
  SettingsHold();
  ~SettingsHold();
  SettingsHold(const SettingsHold&) = delete;
  SettingsHold& operator=(const SettingsHold&) = delete;

 private:
  bool held_;
};

// Copies a setter's text into its field of `size` bytes, cut to size - 1
// characters and always terminated; null is empty text.
void copyCut(char* field, const char* text, unsigned size);
