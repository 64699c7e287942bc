// One writer's bytes as the listener reads them, whatever carried them: the
// hello that may open them, then its lines. Pure: no system calls, so that
// every platform's listener reads a writer the same way.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "common/pipe.h"
#include "record/line.h"

// A writer's stream: when it may open with a hello (common/pipe.h), its
// first bytes are held until the hello's end mark comes; a hello that has no
// end within MaxHelloBytes is no hello, and all of it is data. Then lines,
// a line longer than MaxLineBytes handed on in pieces of that size. What it
// holds of the writer's bytes is at most MaxHeldBytes (the unfinished hello
// or line), and nothing between lines.
class WriterStream {
 public:
  // Smaller than the viewer's limit for a file: a listener has many writers,
  // and each may leave a line unfinished. A longer line loses nothing: its
  // pieces are shown one after the other as the one line.
  static constexpr size_t MaxLineBytes = size_t{64} << 10;
  static constexpr size_t MaxHelloBytes = trovex::win32::PipeHelloMaxName + 2;  // mark, name, mark
  static constexpr size_t MaxHeldBytes = MaxLineBytes;
  static_assert(MaxHelloBytes <= MaxHeldBytes, "a hello is held before any line, never beside one");

  // Called once, before the first line: the name the hello said, or empty
  // when there was none.
  using NameHandler = std::function<void(std::string_view name)>;

  // hello: the stream may open with a hello; otherwise all of it is data.
  WriterStream(bool hello, NameHandler named, LineSplitter::LineHandler line)
      : named_(std::move(named)), lines_(std::move(line), MaxLineBytes), mayHello_(hello) {}
  void feed(std::string_view bytes);
  // The writer has gone (or the listener ends): an unfinished hello is
  // data, an unfinished line ends.
  void finish();
  // Bytes held for the writer now, beside its fixed state: the capacities
  // of its buffers (an empty string's own room is part of the fixed state).
  size_t heldBytes() const { return (hello_.empty() ? 0 : hello_.capacity()) + lines_.heldBytes(); }

 private:
  void named(std::string_view name);

  NameHandler named_;
  LineSplitter lines_;
  std::string hello_;  // the first bytes, while they may still be a hello
  const bool mayHello_;
  bool naming_ = true;  // the name is not settled yet
};
