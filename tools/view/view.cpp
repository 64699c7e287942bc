// Parse, filter, count and render, one line at a time.
#include "view.h"

Viewer::Viewer(const ViewFilter& filter, bool colour)
    : filter_(filter),
      colour_(colour),
      splitter_([this](std::string_view piece, bool continued, bool ends) { handle(piece, continued, ends); }) {}

void Viewer::feed(const char* data, size_t size) { splitter_.feed(data, size); }

void Viewer::finish() { splitter_.finish(); }

void Viewer::handle(std::string_view piece, bool continued, bool ends) {
  if (!continued) {
    const ParsedLine line = parseLine(piece);
    if (line.category != Category::Plain) {
      current_ = line.category;
      shown_ = filter_.passes(line);
      if (shown_) {
        ++stats_.byCategory[static_cast<int>(line.category)];
        ++stats_.byId[std::string(line.id)];
      } else {
        ++stats_.hiddenMessages;
      }
    } else {
      if (line.truncationMarker) {
        current_ = Category::Plain;
        shown_ = true;
      }
      if (shown_) ++stats_.byCategory[static_cast<int>(Category::Plain)];
    }
  }
  if (shown_) appendLine(&output_, piece, current_, colour_, ends);
}
