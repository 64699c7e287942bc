// Records of the library's output: a message with its continuation lines
// joined, a text outside any message, or an event of the source. --json
// writes them, --forward hands them to a collector.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "record/line.h"

struct Record {
  enum class Kind { Message, Text, Event };
  Kind kind = Kind::Text;
  Category category = Category::Plain;  // a message's
  std::string_view id;                  // a message's identifier, Windows-1252
  // A message's or a text's lines joined by "\n", Windows-1252, escape
  // sequences kept out; an event's: the cut's marker, or empty.
  std::string_view text;
  const char* event = nullptr;          // "cut", "restart", "removed", "back", "gone"
  bool continued = false;               // a later part of a message or text handed on before
  std::chrono::system_clock::time_point received{};  // when its first line was read
  bool live = false;  // that line came live (not from a file's start): --json gives its time
};

// Joins the lines of the output into records. Blank lines only between two
// lines of text are part of it: a blank line before the next header or at
// the end is not. A record is handed on when its message ends, or when the
// source has nothing more for now (flush): later lines of the same message
// then come in a record of their own, `continued`, as do the parts of a
// text longer than MaxTextBytes.
class RecordAssembler {
 public:
  static constexpr size_t MaxTextBytes = size_t{1} << 20;
  // A text's buffer that grew past this is let go once the text is out, so
  // that a source costs its longest message only while that message lasts.
  static constexpr size_t KeptTextBytes = size_t{16} << 10;
  using Handler = std::function<void(const Record&)>;

  // maxTextBytes: a text longer than this (MaxTextBytes or less) goes on in
  // parts; a record's text is at most that and one line's piece.
  explicit RecordAssembler(Handler handler, size_t maxTextBytes = MaxTextBytes)
      : handler_(std::move(handler)), maxTextBytes_(maxTextBytes) {}
  // The line handed on next came at `when`, live or not (a file's line
  // read at its start: its record gets the time it is assembled).
  void arrived(std::chrono::system_clock::time_point when, bool live) {
    arrival_ = when;
    arrivalLive_ = live;
  }
  // A shown message's header line; body: its text after the header.
  void message(Category category, std::string_view id, std::string_view body, bool ends);
  // A line without a header, or a further piece of a long line (continued).
  void line(std::string_view piece, bool continued, bool ends);
  // Hands on the open record; the message goes on.
  void flush();
  // Hands on the open record; what follows belongs to no message before it.
  void end();
  // Ends the open record and hands on an event; marker only for a cut.
  void event(const char* name, std::string_view marker = {});

 private:
  void add(std::string_view piece, bool ends);
  void start();

  Handler handler_;
  const size_t maxTextBytes_;
  size_t blankLines_ = 0;    // blank lines of the record not yet followed by text
  bool inRecord_ = false;    // a message or a text is going on
  bool isMessage_ = false;   // it is a message (category and identifier below)
  bool continues_ = false;   // a part of it was handed on already
  Category category_ = Category::Plain;
  std::string id_;
  std::string text_;         // its text not yet handed on, without escape sequences
  std::chrono::system_clock::time_point received_;
  bool live_ = false;                                // received_ is a live line's arrival
  std::chrono::system_clock::time_point arrival_;    // of the next line, as arrived() says
  bool arrivalLive_ = false;
};

// The process that writes the stream, when the viewer shows it among others
// (--listen): each line is shown after "[pid program] ", each JSON record
// carries both, and its going away is shown.
struct WriterTag {
  uint32_t pid;
  std::string program;
  const char* source = nullptr;  // DebugOutputSource for the system's debug output; none for a pipe's writer
};

// The source named in the JSON records of a process's debug output.
constexpr char DebugOutputSource[] = "debug-output";

// Where a viewer hands its records besides its own output (--forward).
// writer: the host that wrote them (--listen), or null. Called on the
// reading thread: it must not wait.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void take(const Record& record, const WriterTag* writer) = 0;
};
