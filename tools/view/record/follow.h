// Following a protocol file as the library writes it: what is appended, the
// library's own truncation (the file starts again with its marker line and a
// tail the reader has already seen), a new run that writes the file anew
// (often with the same first lines every time), and the file's removal and
// return.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

class Follower {
 public:
  enum class Event {
    None,
    Cut,          // cut by the library; reading goes on after the tail already seen
    CutUnmatched, // cut, but the tail does not continue what was seen: read from the marker on
    Restarted,    // written anew without a marker, or another file now: read from its start
    Missing,      // the file is gone (reported once); waiting for it
    Back,         // the file exists again: read from its start
    Created,      // the file, missing at the start, exists now: read from its start
  };

  // How much of what was read is kept to find the reading position after a
  // cut: more than the longest tail the library keeps (keepSize plus
  // sizeLimit, halved).
  static constexpr size_t RetainBytes = size_t{4} << 20;

  // keepSize: the library's keepSize, which decides its cut point.
  Follower(std::string path, uint32_t keepSize);

  // Reads the file from its start; false, with the reason in `error`, when it
  // cannot be opened.
  bool start(std::string* out, std::string* error);
  // Instead of start, for a file that does not exist yet: polls wait for it.
  void awaitCreation() { missing_ = created_ = true; }
  // Reads what is new, appending it to out; the event happened before it.
  Event poll(std::string* out);
  // The marker line of the last cut, without its newline.
  const std::string& marker() const { return marker_; }

 private:
  Event afterRewrite(const std::string& file, std::string* out);
  void resumeAt(const std::string& file, uint64_t position, std::string* out);
  void remember(const char* data, size_t size);

  std::string path_;
  uint32_t keepSize_;
  uint64_t offset_ = 0;      // bytes of the file read so far
  std::string seen_;         // the last bytes read, up to RetainBytes
  std::string head_;         // the file's first bytes, as read
  FileIdentity identity_;    // the file read, at the last settled look
  bool identified_ = false;  // identity_ was found
  bool missing_ = false;
  bool created_ = false;     // missing_ since the start: the file has never been seen
  unsigned pendingPolls_ = 0;  // polls that found a cut whose tail was not yet all written
  std::string marker_;
};
