// Lines of the library's output: splitting a byte stream into lines, and
// reading the message header "label<id>: " at the start of a line.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Category of a message by its header's label; Plain is a line without a
// header (a continuation of the message above it, or the library's report).
enum class Category { Plain, None, Init, Warn, Error };

struct ParsedLine {
  Category category = Category::Plain;
  std::string_view id;    // the identifier between the angle brackets; empty for plain lines
  std::string_view text;  // the whole line, header included, without its newline
  std::string_view body;  // the text after the header (the whole line when it has none)
  bool truncationMarker = false;  // the library's "--- Trunced at ... ---" line
};

// Reads a header at the start of `line` (no newline): a label the library
// uses ("error", "warn", "init" or none), "<", the identifier, ">: ". The
// identifier ends at the first ">: ", so one that holds ">" is read whole.
ParsedLine parseLine(std::string_view line);

// The label's name in the library's headers, "" for None and Plain.
const char* categoryLabel(Category category);

// Cuts a byte stream into lines. A line longer than MaxLineBytes is handed
// on in pieces of that size, so a stream without newlines (binary garbage, a
// wrong baud rate) never takes unbounded memory; the later pieces are
// delivered with `continued` set.
class LineSplitter {
 public:
  static constexpr size_t MaxLineBytes = size_t{1} << 20;
  // piece: the line or a part of it, without the "\n" (a "\r" before it is
  // kept); continued: it goes on a line already delivered in part; ends: the
  // line ends with it.
  using LineHandler = std::function<void(std::string_view piece, bool continued, bool ends)>;

  explicit LineSplitter(LineHandler handler) : handler_(std::move(handler)) {}
  void feed(const char* data, size_t size);
  // Delivers an unfinished last line, if any, as ended.
  void finish();

 private:
  LineHandler handler_;
  std::string pending_;
  bool pendingContinues_ = false;
};
