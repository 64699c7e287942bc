// What the program shows and says: the library's text on standard output,
// in the reader's encoding, and notices on standard error. Once the output
// has ended (its reader went away, or an end signal stopped a write that
// waited), nothing more is written to it and every loop of the program
// winds up.
#pragma once

#include <string>

#include "record/output_file.h"

// Chooses the encoding of what is shown (encoding.h); false, with the
// reason in `error`, for one the system does not know.
bool chooseShownEncoding(const std::string& name, std::string* error);

// From now on, show() writes into this file (--output) instead of standard
// output; it is opened again whenever the platform is asked to
// (reopenRequested). False, with the reason in `error`, when it cannot be
// opened.
bool showIntoFile(const std::string& path, const Rotation& rotation, std::string* error);

// Writes text, the library's Windows-1252, in the chosen encoding, and
// clears it. False once the output has ended.
bool show(std::string* text);

// The library's text (a cut's marker) in the chosen encoding, for a notice.
std::string inShownEncoding(const std::string& text);

// "trovex-view: TEXT" on standard error.
void notice(const std::string& text);

// True once an end signal came or the output ended.
bool stopping();
