// Splitting into lines and reading the message header.
#include "record/line.h"

#include <algorithm>
#include <cstring>

#include "common/texts.h"

namespace {

// The marker's last bytes on its line, without the two newlines.
constexpr std::string_view MarkerEnd(trovex::CutMarkerEnd, sizeof trovex::CutMarkerEnd - 3);
// The notice's parts around its count, without the newline.
constexpr std::string_view NoticeStart(trovex::LostNoticeStart, sizeof trovex::LostNoticeStart - 1);
constexpr std::string_view NoticeEnd(trovex::LostNoticeEnd, sizeof trovex::LostNoticeEnd - 2);

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

// The notice exactly: its start, a count of digits, its end.
bool isLossNotice(std::string_view line) {
  if (!startsWith(line, NoticeStart) || line.size() < NoticeStart.size() + NoticeEnd.size() + 1) return false;
  const std::string_view count = line.substr(NoticeStart.size(), line.size() - NoticeStart.size() - NoticeEnd.size());
  return line.substr(line.size() - NoticeEnd.size()) == NoticeEnd &&
         std::all_of(count.begin(), count.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
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
  parsed.lossNotice = isLossNotice(line);
  if (parsed.lossNotice) {
    for (size_t i = NoticeStart.size(); i < line.size() - NoticeEnd.size(); ++i) {
      const uint64_t digit = static_cast<uint64_t>(line[i] - '0');
      parsed.lostMessages = parsed.lostMessages > (UINT64_MAX - digit) / 10 ? UINT64_MAX : parsed.lostMessages * 10 + digit;
    }
  }
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
    const size_t room = maxLineBytes_ - pending_.size();
    if (take > room || (take == room && !newline)) {
      // The line has reached its limit: hand on this piece and go on.
      deliver(data, room, false);
      data += room;
      size -= room;
      continue;
    }
    if (!newline) {
      hold(data, take);
      return;
    }
    deliver(data, take, true);
    data += take + 1;
    size -= take + 1;
  }
}

void LineSplitter::deliver(const char* data, size_t size, bool ends) {
  if (pending_.empty()) {
    // The common case, a line within one read, is handed on from where it lies.
    handler_(std::string_view(data, size), pendingContinues_, ends);
  } else {
    hold(data, size);
    handler_(std::string_view(pending_.data(), pending_.size()), pendingContinues_, ends);
    std::vector<char>().swap(pending_);
  }
  pendingContinues_ = !ends;
}

void LineSplitter::hold(const char* data, size_t size) {
  const size_t needed = pending_.size() + size;
  // Grown by hand, so that the buffer never takes more than the limit.
  if (needed > pending_.capacity()) pending_.reserve(std::min(maxLineBytes_, std::max(needed, 2 * pending_.capacity())));
  pending_.insert(pending_.end(), data, data + size);
}

void LineSplitter::finish() {
  if (!pending_.empty() || pendingContinues_) handler_(std::string_view(pending_.data(), pending_.size()), pendingContinues_, true);
  std::vector<char>().swap(pending_);
  pendingContinues_ = false;
}
