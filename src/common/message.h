// One message as its destinations receive it. Emission decides the header
// and produces the text once; each destination writes what it is handed.
#pragma once

#include <cstdarg>

namespace trovex {

// Characters already produced, or the format and arguments that produce them
// (when they did not fit where emission produces text). A destination that
// formats copies args first, so that every destination reads them from the start.
struct MessageText {
  const char* text;  // the produced characters, or null: run format over args
  unsigned length;   // characters in text
  const char* format;
  va_list* args;     // null: the format is plain text, copied verbatim
};

struct PreparedMessage {
  bool headerDue;      // the channel and the file get `header` in front of the body
  MessageText header;  // "label<id>: ", with a newline first unless the last format ended a line
  const char* label;   // the callback's header call: null (or empty) parts are left out
  const char* id;
  MessageText body;
  bool isError;        // the category letters named an error
};

}  // namespace trovex
