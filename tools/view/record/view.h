// The viewer's core: bytes in, the lines it shows out. A line without a
// header belongs to the message above it (a dump, a text of several lines)
// and is shown or hidden, and coloured, with it; lines before the first
// message, and from the library's truncation marker on, stand alone.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "record/filter.h"
#include "record/line.h"
#include "record/output.h"
#include "record/record.h"

// How the viewer writes what it shows: lines as they are, coloured or not,
// JSON records (output.h), or nothing (it only forwards or counts).
enum class OutputForm { Plain, Coloured, Json, Quiet };

// What happened to a followed file, as the viewer records it; or to a
// writer of a pipe (Gone).
enum class SourceEvent { Cut, Restart, Removed, Back, Gone };

class Viewer {
 public:
  // forward: where the records of what passes the filter go besides, or
  // null; maxRecordBytes: as RecordAssembler's maxTextBytes.
  Viewer(const ViewFilter& filter, OutputForm form, const WriterTag* writer = nullptr, RecordSink* forward = nullptr,
         size_t maxRecordBytes = RecordAssembler::MaxTextBytes);
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  // Lines fed from now on come live (or not: a file's text at its start),
  // and with times, each is shown after the time it came.
  void setLive(bool live) { live_ = live; }
  void showTimes(bool times) { times_ = times; }
  // How every viewer of the program shows a time (--time or --time=date):
  // the time of day "09:05:07.042", or the date, time and UTC offset
  // "2026-03-01T09:05:07.042+01:00", for output kept across days.
  enum class TimeForm { TimeOfDay, DateAndTime };
  static void chooseTimeForm(TimeForm form);

  // Bytes that came now.
  void feed(const char* data, size_t size);
  // A line already cut from its stream, as LineSplitter hands it on, that came at `when`.
  void line(std::string_view piece, bool continued, bool ends, std::chrono::system_clock::time_point when) {
    arrival_ = when;
    handle(piece, continued, ends);
  }
  // Ends an unfinished last line, and the last message: lines fed after it
  // stand alone until the next message.
  void finish();
  // The source has nothing more for now: a JSON record waiting for the end
  // of its message is written.
  void idle() { records_.flush(); }
  // An event of the followed file: counted for --stats (a cut), a record
  // with --json; a writer gone is also a line of the plain form. marker:
  // the cut's marker line.
  void note(SourceEvent event, std::string_view marker = {});

  // Text ready to print; the caller writes it out and clears it.
  std::string& output() { return output_; }
  const Stats& stats() const { return stats_; }

 private:
  void handle(std::string_view piece, bool continued, bool ends);
  void record(const Record& record);

  const ViewFilter& filter_;
  const OutputForm form_;
  LineSplitter splitter_;
  std::string output_;
  std::string prefix_;                  // before each line: the writer, or nothing
  bool hasWriter_ = false;
  WriterTag writer_{};
  RecordSink* forward_;
  const bool assembles_;                // records are wanted: JSON, or forwarding
  RecordAssembler records_;
  Stats stats_;
  bool shown_ = true;                   // the current message (and its continuation lines) is shown
  Category current_ = Category::Plain;  // category of the current message, for colour
  bool live_ = false;                   // the lines come live: they have receipt times
  bool started_ = false;                // a line has come
  bool times_ = false;                  // a live line is shown after its time (--time)
  std::chrono::system_clock::time_point arrival_;  // of the lines being handled
};
