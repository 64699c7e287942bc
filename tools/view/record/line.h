// Lines of the library's output: splitting a byte stream into lines, and
// reading the message header "label<id>: " at the start of a line.
#pragma once

#include <cstdint>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Category of a message by its header's label; Plain is a line without a
// header (a continuation of the message above it, or the library's report).
enum class Category { Plain, None, Init, Warn, Error };

struct ParsedLine {
  Category category = Category::Plain;
  std::string_view id;    // the identifier between the angle brackets; empty for plain lines
  std::string_view text;  // the whole line, header included, without its newline
  std::string_view body;  // the text after the header (the whole line when it has none)
  bool truncationMarker = false;  // the library's "--- Trunced at ... ---" line
  bool lossNotice = false;        // the channel's "--- N messages lost: ... ---" line, of no message
  uint64_t lostMessages = 0;      // a loss notice's N (at most UINT64_MAX)
};

// Reads a header at the start of `line` (no newline): a label the library
// uses ("error", "warn", "init" or none), "<", the identifier, ">: ". The
// identifier ends at the first ">: ", so one that holds ">" is read whole.
ParsedLine parseLine(std::string_view line);

// The label's name in the library's headers, "" for None and Plain.
const char* categoryLabel(Category category);

// Cuts a byte stream into lines. A line longer than the limit (MaxLineBytes
// unless the owner sets less) is handed on in pieces of that size, so a
// stream without newlines (binary garbage, a wrong baud rate) never takes
// unbounded memory; the later pieces are delivered with `continued` set.
// Only an unfinished line is held, in a buffer of at most the limit that is
// let go once the line is out: between lines a splitter holds nothing.
class LineSplitter {
 public:
  static constexpr size_t MaxLineBytes = size_t{1} << 20;
  // piece: the line or a part of it, without the "\n" (a "\r" before it is
  // kept); continued: it goes on a line already delivered in part; ends: the
  // line ends with it.
  using LineHandler = std::function<void(std::string_view piece, bool continued, bool ends)>;

  explicit LineSplitter(LineHandler handler, size_t maxLineBytes = MaxLineBytes)
      : handler_(std::move(handler)), maxLineBytes_(maxLineBytes) {}
  void feed(const char* data, size_t size);
  // Delivers an unfinished last line, if any, as ended.
  void finish();
  // Bytes taken for the unfinished line: its buffer's capacity, never above the limit.
  size_t heldBytes() const { return pending_.capacity(); }

 private:
  // Hands on the held bytes followed by data[0, size).
  void deliver(const char* data, size_t size, bool ends);
  void hold(const char* data, size_t size);

  LineHandler handler_;
  const size_t maxLineBytes_;
  std::vector<char> pending_;  // the unfinished line's bytes so far
  bool pendingContinues_ = false;
};
