// Splitting into lines and reading the message header.
#include "line.h"

#include <cstring>

#include "common/texts.h"

namespace {

// The marker's last bytes on its line, without the two newlines.
constexpr std::string_view MarkerEnd(trovex::CutMarkerEnd, sizeof trovex::CutMarkerEnd - 3);

struct LabelName {
  const char* name;
  Category category;
};
// The labels of the library's headers, the longest first so that none is
// taken for a prefix of another; "" (no category letter) comes last.
const LabelName Labels[] = {
    {trovex::CategoryLabels[3], Category::Error}, {trovex::CategoryLabels[2], Category::Warn}, {trovex::CategoryLabels[1], Category::Init},
    {trovex::CategoryLabels[0], Category::None}};

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

ParsedLine parseLine(std::string_view line) {
  ParsedLine parsed;
  parsed.text = line;
  parsed.body = line;
  for (const LabelName& label : Labels) {
    const size_t length = std::strlen(label.name);
    if (!startsWith(line, label.name) || line.size() <= length || line[length] != trovex::HeaderIdOpen) continue;
    const size_t end = line.find(trovex::HeaderIdClose, length + 1);
    if (end == std::string_view::npos) break;
    parsed.category = label.category;
    parsed.id = line.substr(length + 1, end - length - 1);
    parsed.body = line.substr(end + sizeof trovex::HeaderIdClose - 1);
    return parsed;
  }
  const std::string_view end = MarkerEnd;
  parsed.truncationMarker = startsWith(line, trovex::CutMarkerStart) && line.size() >= end.size() &&
                            line.compare(line.size() - end.size(), end.size(), end) == 0;
  return parsed;
}

const char* categoryLabel(Category category) {
  for (const LabelName& label : Labels)
    if (label.category == category) return label.name;
  return "";
}

void LineSplitter::feed(const char* data, size_t size) {
  while (size > 0) {
    const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
    const size_t take = newline ? static_cast<size_t>(newline - data) : size;
    size_t room = MaxLineBytes - pending_.size();
    if (take > room || (take == room && !newline)) {
      // The line has reached its limit: hand on this piece and go on.
      pending_.append(data, room);
      handler_(pending_, pendingContinues_, false);
      pending_.clear();
      pendingContinues_ = true;
      data += room;
      size -= room;
      continue;
    }
    pending_.append(data, take);
    if (!newline) return;
    handler_(pending_, pendingContinues_, true);
    pending_.clear();
    pendingContinues_ = false;
    data += take + 1;
    size -= take + 1;
  }
}

void LineSplitter::finish() {
  if (!pending_.empty() || pendingContinues_) handler_(pending_, pendingContinues_, true);
  pending_.clear();
  pendingContinues_ = false;
}
