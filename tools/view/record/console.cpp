// Standard output through the reader's encoding, and the program's end.
#include "record/console.h"

#include <cstdio>

#include "record/encoding.h"
#include "platform/platform.h"

namespace {

OutputEncoder encoder;
bool outputEnded = false;  // a write failed: nothing more is written

}  // namespace

bool chooseShownEncoding(const std::string& name, std::string* error) { return encoder.choose(name, error); }

bool show(std::string* text) {
  if (!outputEnded && !text->empty()) {
    std::string encoded;
    encoder.encode(*text, &encoded);
    outputEnded = !writeStandardOutput(encoded.data(), encoded.size());
  }
  text->clear();
  return !outputEnded;
}

std::string inShownEncoding(const std::string& text) {
  std::string encoded;
  encoder.encode(text, &encoded);
  return encoded;
}

void notice(const std::string& text) { std::fprintf(stderr, "trovex-view: %s\n", text.c_str()); }

bool stopping() { return outputEnded || endRequested(); }
