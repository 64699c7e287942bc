// The viewer's output in a file of its own (--output FILE): appended to,
// opened again on request (after logrotate has moved it away), and with a
// rotation of its own (--rotate daily or --rotate SIZE) moved aside by the
// viewer when the day changes or the file would pass the size, keeping the
// newest --keep old files. An old file is named after its time:
// "FILE.2026-03-01" for a day, "FILE.2026-03-01T090507" for a size (then
// ".1", ".2" when that name is taken); the names sort as their times do.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

struct Rotation {
  enum class Kind { None, Daily, Size };
  Kind kind = Kind::None;
  uint64_t maxBytes = 0;  // with Size
  unsigned keep = 7;      // old files kept; the oldest beyond go
};

// "daily", or a size: a number of bytes with an optional K, M or G (powers
// of 1024), at least 4K. False, with the reason in error, for anything else.
bool parseRotation(const std::string& text, Rotation* rotation, std::string* error);

class OutputFile {
 public:
  OutputFile(std::string path, Rotation rotation)
      : path_(std::move(path)), rotation_(rotation), rotateAt_(rotation.maxBytes) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the file for appending; an existing file last written on an
  // earlier day is moved aside first with a daily rotation. False, with the
  // reason in error, when it cannot be opened.
  bool open(std::string* error);
  // Appends data, after a rotation that is due and after opening the file
  // again when asked to (reopenRequested). A rotation that fails is told in
  // error, and the data goes on into the current file; it is tried again
  // the next day, or when another size's worth has been written.
  enum class Written { Done, NotRotated, Failed };
  Written write(const char* data, size_t size, std::string* error);
  // The next write opens the file again by its name first.
  void reopenRequested() { reopen_ = true; }

  // The clock the rotation looks at: the time of a write (tests set it).
  void setClock(std::time_t (*now)()) { now_ = now; }

 private:
  bool openFile(std::string* error);
  bool rotate(std::time_t now, std::string* error);
  void removeOldest();

  const std::string path_;
  const Rotation rotation_;
  std::FILE* file_ = nullptr;
  uint64_t size_ = 0;        // bytes in the open file
  uint64_t rotateAt_ = 0;    // with a size: the size it rotates past
  int day_ = 0;              // the local day (yyyymmdd) its content is of
  bool reopen_ = false;
  std::time_t (*now_)() = nullptr;
};
