// Standard output through the reader's encoding, and the program's end.
#include "record/console.h"

#include <atomic>
#include <cstdio>
#include <memory>

#include "record/encoding.h"
#include "record/output.h"
#include "platform/platform.h"

namespace {

OutputEncoder encoder;
// A write failed: nothing more is written. Set by the thread that shows,
// read by every loop that asks whether to stop.
std::atomic<bool> outputEnded{false};
std::unique_ptr<OutputFile> outputFile;  // with --output
ConsoleColour consoleColour;             // where the last write left a console's colours

bool writeOutput(const std::string& encoded) {
  if (!outputFile) return writeStandardOutput(encoded.data(), encoded.size());
  if (reopenRequested()) outputFile->reopenRequested();
  std::string error;
  switch (outputFile->write(encoded.data(), encoded.size(), &error)) {
    case OutputFile::Written::Done: return true;
    case OutputFile::Written::NotRotated: notice(error); return true;
    case OutputFile::Written::Failed: break;
  }
  notice(error);
  return false;
}

}  // namespace

bool chooseShownEncoding(const std::string& name, std::string* error) { return encoder.choose(name, error); }

bool showIntoFile(const std::string& path, const Rotation& rotation, std::string* error) {
  auto file = std::make_unique<OutputFile>(path, rotation);
  if (!file->open(error)) return false;
  outputFile = std::move(file);
  return true;
}

bool show(std::string* text) {
  if (!outputEnded && !text->empty()) {
    std::string encoded;
    encoder.encode(*text, &encoded);
    if (!outputFile && colourByAttributes()) {
      splitColouredText(encoded, &consoleColour, [](std::string_view piece, ConsoleColour colour) {
        setOutputColour(colour.foreground, colour.bright);
        if (!outputEnded && !writeStandardOutput(piece.data(), piece.size())) outputEnded = true;
      });
    } else {
      if (!writeOutput(encoded)) outputEnded = true;
    }
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
