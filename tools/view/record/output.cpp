// Colouring, escape sequences and the statistics table.
#include "record/output.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "record/encoding.h"
#include "forward/syslog.h"

namespace {

constexpr char EscapeChar = 27;
constexpr char EscapeEnd = 'm';
const char ColourReset[] = "\x1b[0m";

const char* colourOf(Category category) {
  switch (category) {
    case Category::Error: return "\x1b[31m";
    case Category::Warn: return "\x1b[33m";
    case Category::Init: return "\x1b[36m";
    default: return nullptr;
  }
}

void appendRow(std::string* out, std::string_view name, uint64_t count) {
  char row[64];
  std::snprintf(row, sizeof row, " %12llu  ", static_cast<unsigned long long>(count));
  out->append(row).append(name).push_back('\n');
}

// A summary after the tables, not indented like their rows.
void appendTotal(std::string* out, std::string_view name, uint64_t count) {
  out->append(name).append(": ").append(std::to_string(count)).push_back('\n');
}

// A JSON string of Windows-1252 text.
void appendJsonString(std::string* out, std::string_view text) {
  std::string utf8;
  windows1252ToUtf8(text, &utf8);
  out->push_back('"');
  for (char c : utf8) {
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      case '\t': out->append("\\t"); break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out->append(escaped);
        } else {
          out->push_back(c);
        }
    }
  }
  out->push_back('"');
}

}  // namespace

bool colourWanted(ColorMode mode, bool outputIsTerminal, const char* noColor) {
  if (mode != ColorMode::Auto) return mode == ColorMode::Always;
  return outputIsTerminal && !(noColor && *noColor);
}

void appendLine(std::string* out, std::string_view piece, Category category, bool colour, bool ends) {
  const char* code = colour ? colourOf(category) : nullptr;
  if (code) out->append(code);
  if (colour) {
    out->append(piece);
  } else {
    for (size_t i = 0; i < piece.size(); ++i) {
      if (piece[i] != EscapeChar) {
        out->push_back(piece[i]);
        continue;
      }
      const size_t end = piece.find(EscapeEnd, i + 1);
      if (end == std::string_view::npos) break;
      i = end;
    }
  }
  if (code) out->append(ColourReset);
  if (ends) out->push_back('\n');
}

std::string Stats::table() const {
  std::string out = "messages by category:\n";
  const Category categories[] = {Category::Error, Category::Warn, Category::Init, Category::None};
  for (Category category : categories) {
    const char* label = categoryLabel(category);
    appendRow(&out, *label ? label : "(no category)", byCategory[static_cast<int>(category)]);
  }
  appendRow(&out, "lines without a header", byCategory[static_cast<int>(Category::Plain)]);
  if (debugOutputLines) appendRow(&out, "lines of other programs' debug output", debugOutputLines);
  out += "messages by identifier:\n";
  std::vector<std::pair<std::string, uint64_t>> rows(byId.begin(), byId.end());
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  for (const auto& row : rows) appendRow(&out, row.first.empty() ? "(empty)" : row.first, row.second);
  appendTotal(&out, "messages hidden by the filter", hiddenMessages);
  if (cuts) appendTotal(&out, "cuts of the file by the library", cuts);
  if (dropped) appendTotal(&out, "messages dropped while the output was slow", dropped);
  if (forwardDropped) appendTotal(&out, "messages dropped while forwarding fell behind", forwardDropped);
  if (collectorDropped) appendTotal(&out, "records dropped while the collector was away or slow", collectorDropped);
  if (unsent) appendTotal(&out, "records still queued for the collector at the end", unsent);
  return out;
}

void Stats::add(const Stats& other) {
  for (size_t i = 0; i < sizeof byCategory / sizeof byCategory[0]; ++i) byCategory[i] += other.byCategory[i];
  for (const auto& entry : other.byId) byId[entry.first] += entry.second;
  debugOutputLines += other.debugOutputLines;
  hiddenMessages += other.hiddenMessages;
  cuts += other.cuts;
  dropped += other.dropped;
  forwardDropped += other.forwardDropped;
  collectorDropped += other.collectorDropped;
  unsent += other.unsent;
}

void appendDropped(std::string* out, bool json, uint64_t count) {
  const std::string number = std::to_string(count);
  if (json) out->append("{\"event\":\"dropped\",\"count\":").append(number).append("}\n");
  else out->append("--- ").append(number).append(count == 1 ? " message" : " messages").append(" dropped: the output was busy ---\n");
}

void appendJsonRecord(std::string* out, const Record& record, const WriterTag* writer) {
  out->push_back('{');
  if (writer) {
    out->append("\"pid\":").append(std::to_string(writer->pid)).append(",\"process\":");
    appendJsonString(out, writer->program);
    if (writer->source) {
      out->append(",\"source\":");
      appendJsonString(out, writer->source);
    }
    out->push_back(',');
  }
  if (record.kind == Record::Kind::Event) {
    out->append("\"event\":");
    appendJsonString(out, record.event);
    if (!record.text.empty()) {
      out->append(",\"marker\":");
      appendJsonString(out, record.text);
    }
    out->append("}\n");
    return;
  }
  if (record.kind == Record::Kind::Message) {
    out->append("\"category\":");
    appendJsonString(out, categoryLabel(record.category));
    out->append(",\"id\":");
    appendJsonString(out, record.id);
    out->push_back(',');
  }
  if (record.live) out->append("\"time\":\"").append(syslogTimestamp(syslogTimeOf(record.received))).append("\",");
  out->append("\"text\":");
  appendJsonString(out, record.text);
  if (record.continued) out->append(",\"continued\":true");
  out->append("}\n");
}

void splitColouredText(std::string_view text, ConsoleColour* colour,
                       const std::function<void(std::string_view piece, ConsoleColour colour)>& take) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t escape = text.find(EscapeChar, start);
    if (escape != start) {
      const size_t end = escape == std::string_view::npos ? text.size() : escape;
      take(text.substr(start, end - start), *colour);
      if (end == text.size()) return;
    }
    // ESC "[" parameters and a final byte; an ESC without "[" goes alone.
    size_t at = escape + 1;
    if (at >= text.size() || text[at] != '[') {
      start = at;
      continue;
    }
    ++at;
    std::vector<int> parameters{0};
    while (at < text.size() && ((text[at] >= '0' && text[at] <= '9') || text[at] == ';')) {
      if (text[at] == ';') parameters.push_back(0);
      else if (parameters.back() < 1000) parameters.back() = parameters.back() * 10 + (text[at] - '0');
      ++at;
    }
    if (at < text.size() && text[at] == EscapeEnd) {
      for (int parameter : parameters) {
        if (parameter == 0) *colour = ConsoleColour{};
        else if (parameter == 1) colour->bright = true;
        else if (parameter == 22) colour->bright = false;
        else if (parameter >= 30 && parameter <= 37) colour->foreground = parameter - 30;
        else if (parameter == 39) colour->foreground = -1;
      }
    }
    // Past the final byte. A sequence cut off by the end is left out whole;
    // one cut off by another's ESC ends there.
    while (at < text.size() && text[at] != EscapeChar && !(text[at] >= 0x40 && text[at] <= 0x7e)) ++at;
    start = at < text.size() && text[at] == EscapeChar ? at : at + 1;
  }
}
