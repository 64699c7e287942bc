// The library writes Windows-1252 text ("M\xe4rz"); a person's terminal
// shows it in its own encoding, most often UTF-8.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Appends text, Windows-1252, to out as UTF-8. The five bytes the code page
// leaves undefined become U+FFFD: passed on as C1 controls, some of them
// would start a terminal's control string and swallow what follows.
void windows1252ToUtf8(std::string_view text, std::string* out);

// The viewer's output in the encoding the reader chose.
class OutputEncoder {
 public:
  // "auto": the terminal's encoding (platform.h), with a terminal that uses
  // Windows-1252 itself or whose locale names plain ASCII (the C locale,
  // which says nothing about the terminal) getting the bytes as they are;
  // "raw": the bytes as they are; "utf-8"; or another name the platform
  // converts to. False, with the reason in `error`, for a name it does not know.
  bool choose(const std::string& name, std::string* error);
  // Appends text, converted, to out.
  void encode(std::string_view text, std::string* out) const;

 private:
  enum class Kind { Raw, Utf8, Recoded };
  Kind kind_ = Kind::Raw;
  std::unique_ptr<Recoder> recoder_;
};
