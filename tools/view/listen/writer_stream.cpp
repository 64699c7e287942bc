// Reading one writer's stream: its hello, then its lines.
#include "listen/writer_stream.h"

#include <algorithm>

void WriterStream::feed(std::string_view bytes) {
  if (naming_ && !bytes.empty()) {
    if (!mayHello_ || (hello_.empty() && bytes[0] != trovex::win32::PipeHelloMark)) {
      named({});
    } else {
      // Only as much as a hello may be is held; its end mark is looked for
      // there, not beyond.
      const size_t take = std::min(bytes.size(), MaxHelloBytes - hello_.size());
      const size_t from = hello_.empty() ? 1 : 0;
      const size_t end = bytes.substr(0, take).find(trovex::win32::PipeHelloMark, from);
      if (end != std::string_view::npos) {
        if (hello_.empty()) {
          named(bytes.substr(1, end - 1));
        } else {
          hello_.append(bytes.substr(0, end));
          named(std::string_view(hello_).substr(1));
        }
        bytes.remove_prefix(end + 1);
      } else {
        if (hello_.empty()) hello_.reserve(MaxHelloBytes);
        hello_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (hello_.size() < MaxHelloBytes) return;  // more to come
        // No end within the bound: no hello, and all of it is data.
        const std::string start = std::move(hello_);
        named({});
        lines_.feed(start.data(), start.size());
      }
    }
  }
  lines_.feed(bytes.data(), bytes.size());
}

void WriterStream::finish() {
  if (naming_ && !hello_.empty()) {
    const std::string start = std::move(hello_);
    named({});
    lines_.feed(start.data(), start.size());
  }
  lines_.finish();
}

void WriterStream::named(std::string_view name) {
  naming_ = false;
  named_(name);
  std::string().swap(hello_);
}
