// The viewer's own output file and its rotation.
#include "record/output_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::tm localTm(std::time_t when) {
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  return local;
}

int dayOf(std::time_t when) {
  const std::tm local = localTm(when);
  return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

// "2026-03-01" for a day, with "T090507" for a size's rotation.
std::string stampOf(std::time_t when, bool withTime) {
  const std::tm local = localTm(when);
  char text[32];
  std::strftime(text, sizeof text, withTime ? "%Y-%m-%dT%H%M%S" : "%Y-%m-%d", &local);
  return text;
}

std::string stampOfDay(int day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", day / 10000, day / 100 % 100, day % 100);
  return text;
}

// True for the part after "FILE." of an old file's name: a date, an
// optional time, an optional ".N".
bool isOldFileStamp(const std::string& stamp) {
  const char* pattern = "dddd-dd-dd";
  size_t at = 0;
  for (; pattern[at]; ++at)
    if (at >= stamp.size() || (pattern[at] == 'd' ? !std::isdigit(static_cast<unsigned char>(stamp[at]))
                                                  : stamp[at] != pattern[at]))
      return false;
  if (at < stamp.size() && stamp[at] == 'T') {
    for (size_t digit = 1; digit <= 6; ++digit)
      if (at + digit >= stamp.size() || !std::isdigit(static_cast<unsigned char>(stamp[at + digit]))) return false;
    at += 7;
  }
  if (at == stamp.size()) return true;
  if (stamp[at] != '.' || at + 1 == stamp.size()) return false;
  return std::all_of(stamp.begin() + static_cast<long>(at) + 1, stamp.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

bool parseRotation(const std::string& text, Rotation* rotation, std::string* error) {
  if (text == "daily") {
    rotation->kind = Rotation::Kind::Daily;
    return true;
  }
  size_t digits = 0;
  uint64_t bytes = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])) && bytes < (1ull << 40))
    bytes = bytes * 10 + static_cast<uint64_t>(text[digits++] - '0');
  const std::string unit = text.substr(digits);
  const int shift = unit.empty() ? 0 : unit == "K" || unit == "k" ? 10 : unit == "M" || unit == "m" ? 20
                                     : unit == "G" || unit == "g"  ? 30 : -1;
  constexpr uint64_t Smallest = 4096;
  if (digits == 0 || shift < 0 || bytes >= (1ull << 40) || (bytes << shift) < Smallest) {
    *error = "--rotate takes daily or a size of at least 4K (a number with K, M or G), not \"" + text + "\"";
    return false;
  }
  rotation->kind = Rotation::Kind::Size;
  rotation->maxBytes = bytes << shift;
  return true;
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
}

bool OutputFile::openFile(std::string* error) {
  file_ = std::fopen(path_.c_str(), "ab");
  if (!file_) {
    *error = "cannot open " + path_ + ": " + std::strerror(errno);
    return false;
  }
  struct stat status {};
  size_ = stat(path_.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
  return true;
}

bool OutputFile::open(std::string* error) {
  const std::time_t now = now_ ? now_() : std::time(nullptr);
  day_ = dayOf(now);
  struct stat status {};
  if (rotation_.kind == Rotation::Kind::Daily && stat(path_.c_str(), &status) == 0 && status.st_size > 0 &&
      dayOf(status.st_mtime) != day_) {
    const int today = day_;
    day_ = dayOf(status.st_mtime);  // the old file is named after its own day
    std::string ignored;
    rotate(now, &ignored);
    day_ = today;
  }
  return openFile(error);
}

bool OutputFile::rotate(std::time_t now, std::string* error) {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  const std::string stem = path_ + "." + (rotation_.kind == Rotation::Kind::Daily ? stampOfDay(day_) : stampOf(now, true));
  std::string target = stem;
  std::error_code failed;
  for (unsigned number = 1; fs::exists(target, failed) && number < 1000; ++number)
    target = stem + "." + std::to_string(number);
  fs::rename(path_, target, failed);
  if (failed) {
    *error = "cannot move " + path_ + " aside to " + target + ": " + failed.message() + "; writing on into it";
    return false;
  }
  removeOldest();
  return true;
}

void OutputFile::removeOldest() {
  const fs::path path(path_);
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  const std::string prefix = path.filename().string() + ".";
  std::vector<std::string> old;
  std::error_code failed;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, failed)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        isOldFileStamp(name.substr(prefix.size())))
      old.push_back(name);
  }
  if (old.size() <= rotation_.keep) return;
  std::sort(old.begin(), old.end());
  for (size_t index = 0; index + rotation_.keep < old.size(); ++index) fs::remove(folder / old[index], failed);
}

OutputFile::Written OutputFile::write(const char* data, size_t size, std::string* error) {
  if (reopen_ || !file_) {
    reopen_ = false;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!openFile(error)) return Written::Failed;
  }
  Written written = Written::Done;
  if (rotation_.kind != Rotation::Kind::None) {
    const std::time_t now = now_ ? now_() : std::time(nullptr);
    const int today = rotation_.kind == Rotation::Kind::Daily ? dayOf(now) : day_;
    const bool due = size_ > 0 && (rotation_.kind == Rotation::Kind::Daily ? today != day_ : size_ + size > rotateAt_);
    if (due) {
      if (rotate(now, error)) {
        rotateAt_ = rotation_.maxBytes;
      } else {
        written = Written::NotRotated;
        rotateAt_ = size_ + rotation_.maxBytes;
      }
      day_ = today;
      if (!openFile(error)) return Written::Failed;
    }
  }
  if (std::fwrite(data, 1, size, file_) != size || std::fflush(file_) != 0) {
    *error = "cannot write " + path_ + ": " + std::strerror(errno);
    return Written::Failed;
  }
  size_ += size;
  return written;
}
