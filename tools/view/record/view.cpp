// Parse, filter, count and render, one line at a time.
#include "record/view.h"

#include "forward/syslog.h"

namespace {

// The line that shows a writer gone, after its prefix.
constexpr char GoneLine[] = "--- gone ---\n";

const char* eventName(SourceEvent event) {
  static const char* const names[] = {"cut", "restart", "removed", "back", "gone"};
  return names[static_cast<int>(event)];
}

// Set once at the start, before any viewer runs.
Viewer::TimeForm timeForm = Viewer::TimeForm::TimeOfDay;

}  // namespace

void Viewer::chooseTimeForm(TimeForm form) { timeForm = form; }

Viewer::Viewer(const ViewFilter& filter, OutputForm form, const WriterTag* writer, RecordSink* forward,
               size_t maxRecordBytes)
    : filter_(filter),
      form_(form),
      splitter_([this](std::string_view piece, bool continued, bool ends) { handle(piece, continued, ends); }),
      forward_(forward),
      assembles_(form == OutputForm::Json || forward),
      records_([this](const Record& record) { this->record(record); }, maxRecordBytes) {
  if (!writer) return;
  prefix_ = "[" + std::to_string(writer->pid) + " " + writer->program + "] ";
  hasWriter_ = true;
  writer_ = *writer;
}

void Viewer::record(const Record& record) {
  const WriterTag* writer = hasWriter_ ? &writer_ : nullptr;
  if (form_ == OutputForm::Json) appendJsonRecord(&output_, record, writer);
  if (forward_) forward_->take(record, writer);
}

void Viewer::feed(const char* data, size_t size) {
  arrival_ = std::chrono::system_clock::now();
  splitter_.feed(data, size);
}

void Viewer::finish() {
  splitter_.finish();
  records_.end();
  // What comes next (a new run, the file back) stands alone until its first message.
  shown_ = true;
  current_ = Category::Plain;
}

void Viewer::note(SourceEvent event, std::string_view marker) {
  if (event == SourceEvent::Cut) ++stats_.cuts;
  if (assembles_) records_.event(eventName(event), marker);
  if (event == SourceEvent::Gone && (form_ == OutputForm::Plain || form_ == OutputForm::Coloured))
    output_.append(prefix_).append(GoneLine);
}

void Viewer::handle(std::string_view piece, bool continued, bool ends) {
  // A host's channel starts its stream with a newline, as it starts a file:
  // a writer's empty first line is no line of its own.
  if (!started_) {
    started_ = true;
    if (hasWriter_ && !continued && ends && piece.empty()) return;
  }
  ParsedLine line;
  if (!continued) {
    line = parseLine(piece);
    if (line.category != Category::Plain) {
      current_ = line.category;
      shown_ = filter_.passes(line);
      if (shown_) {
        ++stats_.byCategory[static_cast<int>(line.category)];
        ++stats_.byId[std::string(line.id)];
      } else {
        ++stats_.hiddenMessages;
        records_.end();
      }
    } else {
      // The cut's marker and the channel's notice of lost messages belong
      // to no message: shown whatever the filter did with the one before.
      if (line.truncationMarker || line.lossNotice) {
        current_ = Category::Plain;
        shown_ = true;
      }
      // Another program's debug output is counted apart from a host's lines.
      if (shown_ && writer_.source && current_ == Category::Plain)
        ++stats_.debugOutputLines;
      else if (shown_)
        ++stats_.byCategory[static_cast<int>(Category::Plain)];
    }
  }
  if (!shown_) return;
  if (form_ == OutputForm::Plain || form_ == OutputForm::Coloured) {
    if (!continued && live_ && times_) {
      // The local time from the timestamp "2026-03-01T09:05:07.042+01:00":
      // its time of day, or all of it.
      constexpr size_t TimeOfDayStart = 11, TimeOfDayLength = 12;
      const std::string stamp = syslogTimestamp(syslogTimeOf(arrival_));
      if (timeForm == TimeForm::DateAndTime)
        output_.append(stamp);
      else
        output_.append(stamp, TimeOfDayStart, TimeOfDayLength);
      output_.push_back(' ');
    }
    if (!continued) output_.append(prefix_);
    appendLine(&output_, piece, current_, form_ == OutputForm::Coloured, ends);
  }
  if (!assembles_) return;
  records_.arrived(arrival_, live_);
  if (continued) {
    records_.line(piece, true, ends);
  } else if (line.category != Category::Plain) {
    records_.message(line.category, line.id, line.body, ends);
  } else if (line.truncationMarker) {
    records_.event(eventName(SourceEvent::Cut), line.text);
  } else if (line.lossNotice) {
    records_.end();  // a text of its own, not a line of the message before
    records_.line(piece, false, ends);
  } else {
    // Each call of a program's debug output outside a message is a line of
    // its own: its lines are not one text, as a file's lines before its
    // first message are.
    if (writer_.source && current_ == Category::Plain) records_.end();
    records_.line(piece, false, ends);
  }
}
