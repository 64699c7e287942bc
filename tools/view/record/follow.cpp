// The follower reads the whole file at each poll where it was rewritten, and
// otherwise the new bytes with the ones just before them that tell a
// rewrite; the file is never held open between polls, so the library can
// always open, rewrite or delete it.
#include "record/follow.h"

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
constexpr size_t MarkerMaxLength = sizeof trovex::CutMarkerStart + trovex::TimeTextSize + sizeof trovex::CutMarkerEnd;
// Polls to wait for the library to finish rewriting a cut file before
// reading it as it is.
constexpr unsigned MaxPendingPolls = 50;
constexpr char FormFeed = '\f';
// A new run of the host rewrites the file, in place (the default mode "w")
// or as a new file, and it often starts with the same banner every time. A
// look finds the rewrite when the file is shorter than what was read, when
// its first bytes or the bytes just before the reading position are not the
// ones read there, or when the name leads to another file. A rewrite that
// repeats the old text up to the reading position in the same file is read
// on from there: what follows is what that run wrote next.
constexpr size_t HeadBytes = 32;
constexpr size_t WindowBytes = size_t{64} << 10;

// The file's first bytes (up to HeadBytes) and its bytes from `from` to its
// end; false if it cannot be opened. size: from plus the bytes read, or the
// file's size when that is less.
bool readFile(const std::string& path, uint64_t from, std::string* head, std::string* bytes, uint64_t* size) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  head->resize(HeadBytes);
  file.read(&(*head)[0], HeadBytes);
  head->resize(static_cast<size_t>(file.gcount()));
  file.clear();
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  if (end < 0) return false;
  bytes->clear();
  *size = static_cast<uint64_t>(end);
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
  if (file.compare(0, sizeof trovex::CutMarkerStart - 1, trovex::CutMarkerStart) != 0) return 0;
  const size_t end = file.find(trovex::CutMarkerEnd, sizeof trovex::CutMarkerStart - 1);
  if (end == std::string::npos || end > MarkerMaxLength) return 0;
  return end + sizeof trovex::CutMarkerEnd - 1;
}

}  // namespace

Follower::Follower(std::string path, uint32_t keepSize) : path_(std::move(path)), keepSize_(keepSize) {}

bool Follower::start(std::string* out, std::string* error) {
  std::string head, bytes;
  uint64_t size = 0;
  std::error_code ignored;
  if (std::filesystem::is_directory(path_, ignored)) {
    *error = "is a directory";
    return false;
  }
  errno = 0;
  if (!readFile(path_, 0, &head, &bytes, &size)) {
    *error = errno ? std::strerror(errno) : "cannot be read";
    return false;
  }
  identified_ = fileIdentity(path_, &identity_);
  offset_ = size;
  remember(bytes.data(), bytes.size());
  out->append(bytes);
  return true;
}

Follower::Event Follower::poll(std::string* out) {
  const size_t window = missing_ ? 0 : static_cast<size_t>(std::min<uint64_t>({offset_, WindowBytes, seen_.size()}));
  std::string head, bytes;
  uint64_t size = 0;
  if (!readFile(path_, missing_ ? 0 : offset_ - window, &head, &bytes, &size)) {
    if (missing_) return Event::None;
    missing_ = true;
    return Event::Missing;
  }
  FileIdentity identity;
  const bool identified = fileIdentity(path_, &identity);
  // Taken on when the look is settled; a cut still being written is looked at again.
  auto adopt = [&] {
    if (identified) identity_ = identity;
    identified_ = identified_ || identified;
  };
  if (missing_) {
    missing_ = false;
    seen_.clear();
    head_.clear();
    offset_ = size;
    remember(bytes.data(), bytes.size());
    out->append(bytes);
    adopt();
    const bool created = created_;
    created_ = false;
    return created ? Event::Created : Event::Back;
  }
  const size_t known = static_cast<size_t>(std::min<uint64_t>(offset_, HeadBytes));
  const bool sameText = size >= offset_ && head_.compare(0, known, head, 0, known) == 0 &&
                        bytes.compare(0, window, seen_, seen_.size() - window, window) == 0;
  const bool otherFile = identified && identified_ && identity != identity_;
  if (sameText && !otherFile) {
    pendingPolls_ = 0;
    offset_ = size;
    remember(bytes.data() + window, bytes.size() - window);
    out->append(bytes, window, std::string::npos);
    adopt();
    return Event::None;
  }
  std::string file;
  if (!readFile(path_, 0, &head, &file, &size)) return Event::None;  // gone: the next poll says so
  const Event event = afterRewrite(file, out);
  if (event != Event::None) adopt();
  return event;
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
  const size_t ruled = trovex::findCutPoint(seen, static_cast<uint32_t>(seen_.size()), keepSize_);
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
