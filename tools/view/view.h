// The viewer's core: bytes in, the lines it shows out. A line without a
// header belongs to the message above it (a dump, a text of several lines)
// and is shown or hidden, and coloured, with it; lines before the first
// message, and from the library's truncation marker on, stand alone.
#pragma once

#include <string>

#include "filter.h"
#include "line.h"
#include "output.h"

class Viewer {
 public:
  Viewer(const ViewFilter& filter, bool colour);
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  void feed(const char* data, size_t size);
  // Ends an unfinished last line.
  void finish();
  // A truncation of the followed file, counted for --stats.
  void noteCut() { ++stats_.cuts; }

  // Text ready to print; the caller writes it out and clears it.
  std::string& output() { return output_; }
  const Stats& stats() const { return stats_; }

 private:
  void handle(std::string_view piece, bool continued, bool ends);

  const ViewFilter& filter_;
  const bool colour_;
  LineSplitter splitter_;
  std::string output_;
  Stats stats_;
  bool shown_ = true;                   // the current message (and its continuation lines) is shown
  Category current_ = Category::Plain;  // category of the current message, for colour
};
