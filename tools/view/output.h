// What the viewer prints: lines coloured by category, the library's escape
// sequences passed through or kept out, the table of --stats, and the JSON
// records of --json.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "line.h"

enum class ColorMode { Auto, Always, Never };

// Colour with Always; never with Never; with Auto only on a terminal and
// when NO_COLOR is unset or empty (noColor: its value, or null).
bool colourWanted(ColorMode mode, bool outputIsTerminal, const char* noColor);

// Appends a piece of a line to out. With colour, the piece is wrapped in the
// category's colour (error red, warning yellow, init cyan) and escape
// sequences in the text are passed on; without, they are kept out the way
// the library keeps them from its debug channel's file (ESC up to the next
// "m"), though never past the end of the line. ends adds the newline.
void appendLine(std::string* out, std::string_view piece, Category category, bool colour, bool ends);

// Counts for --stats: messages that were shown, by category and identifier.
struct Stats {
  uint64_t byCategory[5] = {};               // indexed by Category; Plain counts lines without a header
  std::map<std::string, uint64_t> byId;      // shown messages per identifier
  uint64_t hiddenMessages = 0;               // messages the filter stopped
  uint64_t cuts = 0;                         // truncations of the followed file
  uint64_t dropped = 0;                      // messages the listener dropped: its output was slow

  // Adds another viewer's counts (the writers of a pipe, each read on its own).
  void add(const Stats& other);
  // The table, one row per category and per identifier (most frequent first),
  // then the messages hidden and the cuts.
  std::string table() const;
};

// The listener's notice of messages it dropped because its output was slow:
// the line "--- N messages dropped: the output was busy ---" ("1 message"), or with json
// the record {"event":"dropped","count":N}.
void appendDropped(std::string* out, bool json, uint64_t count);

// --json: one object a line for each message, with its continuation lines
// joined by "\n" and escape sequences kept out (blank lines only between
// two of them: a blank line before the next header or at the end is no part
// of the text); one for text outside any message; one for each event. Text
// is UTF-8, converted from the library's Windows-1252:
//   {"category":"warn","id":"NET","text":"retry\nsecond line"}
//   {"text":"a line before the first message"}
//   {"event":"cut","marker":"--- Trunced at ... ---"}   also "restart", "removed", "back"
// A record is written when its message ends, or when the source has nothing
// more for now (flush): later lines of the same message then come in a
// record of their own with "continued":true, as do the parts of a text
// longer than MaxTextBytes.
class JsonRecords {
 public:
  static constexpr size_t MaxTextBytes = size_t{1} << 20;

  explicit JsonRecords(std::string* out) : out_(out) {}
  // Every record starts with the writer's "pid" and "process".
  void setWriter(uint32_t pid, std::string_view program);
  // A shown message's header line; body: its text after the header.
  void message(Category category, std::string_view id, std::string_view body, bool ends);
  // A line without a header, or a further piece of a long line (continued).
  void line(std::string_view piece, bool continued, bool ends);
  // Writes the open record; the message goes on.
  void flush();
  // Writes the open record; what follows belongs to no message before it.
  void end();
  // Ends the open record and writes an event; marker only for a cut.
  void event(const char* name, std::string_view marker = {});

 private:
  void add(std::string_view piece, bool ends);
  void open();

  std::string* out_;
  std::string writer_;       // the writer's fields with their comma, or nothing
  size_t blankLines_ = 0;    // blank lines of the record not yet followed by text
  bool inRecord_ = false;    // a message or a text is going on
  bool isMessage_ = false;   // it is a message (category and identifier below)
  bool continues_ = false;   // a part of it was written already
  Category category_ = Category::Plain;
  std::string id_;
  std::string text_;         // its text not yet written, without escape sequences
};
