// The follower reads the whole file at each poll where it shrank, and only
// the new bytes otherwise; the file is never held open between polls, so the
// library can always open, rewrite or delete it.
#include "follow.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/texts.h"
#include "protocol/protocol.h"

namespace {

// The marker's date is at most 127 characters (the library's buffer).
constexpr size_t MarkerMaxLength = sizeof CutMarkerStart + TimeTextSize + sizeof CutMarkerEnd;
// Polls to wait for the library to finish rewriting a cut file before
// reading it as it is.
constexpr unsigned MaxPendingPolls = 50;
constexpr char FormFeed = '\f';
// Bytes at the file's start compared at each poll: a file rewritten from
// its start (cut, or emptied by a new run) that has already grown past the
// reading position shows there.
constexpr size_t HeadBytes = 32;

// Reads the bytes of the file from `from` to its end; false if it cannot be opened.
bool readFrom(const std::string& path, uint64_t from, uint64_t* size, std::string* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  if (end < 0) return false;
  *size = static_cast<uint64_t>(end);
  bytes->clear();
  if (*size <= from) return true;
  bytes->resize(static_cast<size_t>(*size - from));
  file.seekg(static_cast<std::streamoff>(from));
  file.read(&(*bytes)[0], static_cast<std::streamsize>(bytes->size()));
  bytes->resize(static_cast<size_t>(file.gcount()));
  *size = from + bytes->size();
  return true;
}

// The length of the library's marker line and the empty line after it at
// the start of file, or 0 when it does not start with one.
size_t markerLength(const std::string& file) {
  if (file.compare(0, sizeof CutMarkerStart - 1, CutMarkerStart) != 0) return 0;
  const size_t end = file.find(CutMarkerEnd, sizeof CutMarkerStart - 1);
  if (end == std::string::npos || end > MarkerMaxLength) return 0;
  return end + sizeof CutMarkerEnd - 1;
}

}  // namespace

Follower::Follower(std::string path, uint32_t keepSize) : path_(std::move(path)), keepSize_(keepSize) {}

bool Follower::start(std::string* out, std::string* error) {
  std::string bytes;
  uint64_t size = 0;
  std::error_code ignored;
  if (std::filesystem::is_directory(path_, ignored)) {
    *error = "is a directory";
    return false;
  }
  errno = 0;
  if (!readFrom(path_, 0, &size, &bytes)) {
    *error = errno ? std::strerror(errno) : "cannot be read";
    return false;
  }
  offset_ = size;
  remember(bytes.data(), bytes.size());
  out->append(bytes);
  return true;
}

Follower::Event Follower::poll(std::string* out) {
  std::string bytes;
  uint64_t size = 0;
  if (!readFrom(path_, missing_ ? 0 : offset_, &size, &bytes)) {
    if (missing_) return Event::None;
    missing_ = true;
    return Event::Missing;
  }
  if (missing_) {
    missing_ = false;
    seen_.clear();
    head_.clear();
    offset_ = size;
    remember(bytes.data(), bytes.size());
    out->append(bytes);
    return Event::Back;
  }
  if (size >= offset_ && !headChanged()) {
    pendingPolls_ = 0;
    offset_ = size;
    remember(bytes.data(), bytes.size());
    out->append(bytes);
    return Event::None;
  }
  std::string file;
  if (!readFrom(path_, 0, &size, &file)) return Event::None;  // gone: the next poll says so
  return afterRewrite(file, out);
}

Follower::Event Follower::afterRewrite(const std::string& file, std::string* out) {
  const size_t markerEnd = markerLength(file);
  if (markerEnd == 0) {
    pendingPolls_ = 0;
    seen_.clear();
    resumeAt(file, 0, out);
    return Event::Restarted;
  }
  // The tail after the marker is the old file from one of its form feeds
  // on. Try first the one the library itself would have chosen had the
  // reader been at the end, then every other from the last back.
  std::vector<size_t> candidates;
  const uint8_t* seen = reinterpret_cast<const uint8_t*>(seen_.data());
  const size_t ruled = findCutPoint(seen, static_cast<uint32_t>(seen_.size()), keepSize_);
  if (!seen_.empty() && seen_[ruled] == FormFeed) candidates.push_back(ruled);
  for (size_t i = seen_.size(); i-- > 0;)
    if (seen_[i] == FormFeed && i != ruled) candidates.push_back(i);

  bool undecided = false;
  for (size_t at : candidates) {
    const size_t length = seen_.size() - at;
    if (file.size() - markerEnd < length) {
      undecided = true;  // the library may still be writing the tail
      continue;
    }
    if (file.compare(markerEnd, length, seen_, at, length) == 0) {
      pendingPolls_ = 0;
      marker_ = file.substr(0, markerEnd - 2);
      resumeAt(file, markerEnd + length, out);
      return Event::Cut;
    }
  }
  if (undecided && ++pendingPolls_ < MaxPendingPolls) return Event::None;
  pendingPolls_ = 0;
  marker_ = file.substr(0, markerEnd - 2);
  seen_.clear();
  resumeAt(file, markerEnd, out);
  return Event::CutUnmatched;
}

bool Follower::headChanged() const {
  std::ifstream file(path_, std::ios::binary);
  char head[HeadBytes];
  file.read(head, sizeof head);
  const size_t known = std::min<size_t>(std::min<uint64_t>(offset_, HeadBytes), static_cast<size_t>(file.gcount()));
  return head_.compare(0, known, head, known) != 0;
}

// Reading goes on at `position` of the file's new content: what lies before
// it counts as seen, what follows is new.
void Follower::resumeAt(const std::string& file, uint64_t position, std::string* out) {
  seen_.clear();
  head_.clear();
  remember(file.data(), static_cast<size_t>(position));
  out->append(file, static_cast<size_t>(position), std::string::npos);
  remember(file.data() + position, file.size() - static_cast<size_t>(position));
  offset_ = file.size();
}

void Follower::remember(const char* data, size_t size) {
  if (head_.size() < HeadBytes) head_.append(data, std::min(size, HeadBytes - head_.size()));
  if (size >= RetainBytes) {
    seen_.assign(data + size - RetainBytes, RetainBytes);
    return;
  }
  const size_t keep = std::min(seen_.size(), RetainBytes - size);
  seen_.erase(0, seen_.size() - keep);
  seen_.append(data, size);
}
