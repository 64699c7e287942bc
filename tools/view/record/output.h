// What the viewer prints: lines coloured by category, the library's escape
// sequences passed through or kept out, the table of --stats, and the JSON
// records of --json.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "record/line.h"
#include "record/record.h"

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

// A coloured line as a console that takes no escape sequences shows it
// (Wine's, an old Windows'): pieces of text, each with the colour that the
// sequences before it chose. Of the sequences, SGR's 0 (or none) resets, 30
// to 37 choose a foreground (ANSI's order: black, red, green, yellow, blue,
// magenta, cyan, white), 39 the console's own, 1 bright and 22 not; every
// other sequence is left out. `colour` is where one call ends and the next
// goes on.
struct ConsoleColour {
  int foreground = -1;  // -1: the console's own
  bool bright = false;
  bool operator==(const ConsoleColour& other) const {
    return foreground == other.foreground && bright == other.bright;
  }
};
void splitColouredText(std::string_view text, ConsoleColour* colour,
                       const std::function<void(std::string_view piece, ConsoleColour colour)>& take);

// Counts for --stats: messages that were shown, by category and identifier.
struct Stats {
  uint64_t byCategory[5] = {};               // indexed by Category; Plain counts lines without a header
  std::map<std::string, uint64_t> byId;      // shown messages per identifier
  uint64_t debugOutputLines = 0;             // lines of other programs' debug output (--listen)
  uint64_t hiddenMessages = 0;               // messages the filter stopped
  uint64_t cuts = 0;                         // truncations of the followed file
  uint64_t dropped = 0;                      // messages the listener dropped: its output was slow
  uint64_t forwardDropped = 0;               // messages the listener dropped: its forwarding fell behind
  uint64_t collectorDropped = 0;             // records the forwarding dropped: the collector was away or slow
  uint64_t unsent = 0;                       // records still queued for the collector at the end

  // Adds another viewer's counts (the writers of a pipe, each read on its own).
  void add(const Stats& other);
  // The table, one row per category and per identifier (most frequent first),
  // then the messages hidden, and the cuts and each queue's drops if any.
  std::string table() const;
};

// The listener's notice of messages it dropped because its output was slow:
// the line "--- N messages dropped: the output was busy ---" ("1 message"), or with json
// the record {"event":"dropped","count":N}.
void appendDropped(std::string* out, bool json, uint64_t count);

// --json: one object a line for each record (record.h), text in UTF-8,
// converted from the library's Windows-1252:
//   {"category":"warn","id":"NET","text":"retry\nsecond line"}
//   {"text":"a line before the first message"}
//   {"event":"cut","marker":"--- Trunced at ... ---"}   also "restart", "removed", "back", "gone"
// A later part of a message or text carries "continued":true; with a writer,
// every object starts with its "pid" and "process".
void appendJsonRecord(std::string* out, const Record& record, const WriterTag* writer);
