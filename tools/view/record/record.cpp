// Joining lines into records.
#include "record/record.h"

#include "record/output.h"

void RecordAssembler::start() {
  inRecord_ = true;
  live_ = arrivalLive_;
  received_ = live_ ? arrival_ : std::chrono::system_clock::now();
}

void RecordAssembler::message(Category category, std::string_view id, std::string_view body, bool ends) {
  end();
  start();
  isMessage_ = true;
  category_ = category;
  id_.assign(id);
  add(body, ends);
}

void RecordAssembler::line(std::string_view piece, bool continued, bool ends) {
  if (!continued && ends && (piece.empty() || piece == "\r")) {
    // Part of the text only when more of it follows. A record keeps at
    // most a text's worth of them: a longer run (a writer sending nothing
    // but newlines) would otherwise come into the text all at once.
    if (inRecord_ && blankLines_ < maxTextBytes_) ++blankLines_;
    return;
  }
  if (!inRecord_) {
    start();
    isMessage_ = false;
  } else if (!continued) {
    text_.append(blankLines_ + (!text_.empty() || !continues_), '\n');
  }
  blankLines_ = 0;
  add(piece, ends);
}

void RecordAssembler::add(std::string_view piece, bool ends) {
  appendLine(&text_, piece, Category::Plain, false, false);
  if (ends && !text_.empty() && text_.back() == '\r') text_.pop_back();  // a CR LF line end
  if (text_.size() >= maxTextBytes_) flush();
}

void RecordAssembler::flush() {
  if (!inRecord_ || (text_.empty() && continues_)) return;
  Record record;
  record.kind = isMessage_ ? Record::Kind::Message : Record::Kind::Text;
  record.category = isMessage_ ? category_ : Category::Plain;
  record.id = id_;
  record.text = text_;
  record.continued = continues_;
  record.received = received_;
  record.live = live_;
  handler_(record);
  text_.clear();
  if (text_.capacity() > KeptTextBytes) std::string().swap(text_);
  continues_ = true;
}

void RecordAssembler::end() {
  flush();
  inRecord_ = continues_ = false;
  blankLines_ = 0;
}

void RecordAssembler::event(const char* name, std::string_view marker) {
  end();
  Record record;
  record.kind = Record::Kind::Event;
  record.event = name;
  record.text = marker;
  record.received = std::chrono::system_clock::now();
  handler_(record);
}
