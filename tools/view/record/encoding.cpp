// Windows-1252 to UTF-8 by the code page's table, other encodings through
// UTF-8 and the platform's conversion.
#include "record/encoding.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace {

constexpr char32_t Undefined = 0xFFFD;

// The code page's characters for the bytes 0x80 to 0x9F; from 0xA0 on it
// agrees with Unicode, as below 0x80.
constexpr char16_t HighControls[32] = {
    0x20AC, Undefined, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, Undefined, 0x017D, Undefined, Undefined, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, Undefined, 0x017E, 0x0178};

void appendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

bool plainAscii(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Lower case, without "-" and "_": "UTF-8", "utf8" and "Utf_8" are one name.
std::string folded(const std::string& name) {
  std::string key;
  for (char c : name)
    if (c != '-' && c != '_') key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return key;
}

}  // namespace

void windows1252ToUtf8(std::string_view text, std::string* out) {
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    appendUtf8(byte >= 0x80 && byte < 0xA0 ? HighControls[byte - 0x80] : byte, out);
  }
}

bool OutputEncoder::choose(const std::string& name, std::string* error) {
  const bool automatic = folded(name) == "auto";
  const std::string wanted = automatic ? terminalEncoding() : name;
  const std::string key = folded(wanted);
  recoder_.reset();
  if (key == "utf8" || key == "cp65001") {
    kind_ = Kind::Utf8;
  } else if (key == "raw" || key == "windows1252" || key == "cp1252" ||
             (automatic && (key == "ansix3.41968" || key == "ascii" || key == "cp20127"))) {
    kind_ = Kind::Raw;
  } else if ((recoder_ = openRecoder(wanted))) {
    kind_ = Kind::Recoded;
  } else if (automatic) {
    kind_ = Kind::Raw;  // a terminal encoding the platform cannot convert to: as before, bytes
  } else {
    *error = "unknown encoding " + name + " (try utf-8, raw, or a name the system converts to)";
    return false;
  }
  return true;
}

void OutputEncoder::encode(std::string_view text, std::string* out) const {
  if (kind_ == Kind::Raw || plainAscii(text)) {
    out->append(text);
    return;
  }
  if (kind_ == Kind::Utf8) {
    windows1252ToUtf8(text, out);
    return;
  }
  std::string utf8;
  windows1252ToUtf8(text, &utf8);
  recoder_->fromUtf8(utf8, out);
}
