// libFuzzer target for the listener's reading of its writers: three writers
// of a pipe connect, send bytes in chunks and go, through the reading half
// (ListenReader, each writer's WriterStream) into a queue small enough to
// drop, which the output half (ListenOutput) takes now and then.
//
// Input: a byte for the queue's bound and the output's form, then events,
// each an operation byte: bits 0-1 the writer (3: the output takes what is
// queued), bits 2-3 what it does (0 connects, saying a hello when bit 4 is
// set; 1 sends; 2 sends a run; 3 goes). A send takes a length byte (256 more
// with bit 4) and that many bytes, repeated 1 << (bits 5-7) times; a run
// takes a byte and a length byte: length + 1 KiB of that byte, twice that
// with bit 5, so that lines longer than a piece come often (a run of
// newlines is one of "\r"). All sends together stop at 256 KiB.
//
// Checked against each connection's bytes, read by a model of its own:
// - it never holds more than WriterStream::MaxHeldBytes, and nothing while
//   it has no unfinished hello or line;
// - its first record names it (its hello's name, or the system's), and a
//   departure follows its last record exactly when it left after one;
// - its records are whole lines, or pieces of MaxLineBytes with the right
//   `continued` and `ends` marks;
// - joined, they are its messages in order, each whole or a start of it (a
//   line cut only after whole pieces), and the drops the queue reports lie
//   between the fewest and the most messages that can have been lost so:
//   with nothing dropped, every line is there;
// - the output half counts the drops the queue reported.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "listen/listen.h"

namespace {

constexpr size_t Writers = 3;
constexpr size_t MatchWork = 200000;  // steps of the matching of a writer's lines

void check(bool condition) {
  if (!condition) __builtin_trap();
}

struct Connection {
  uint64_t id;
  bool hello;
  std::string sent;                  // every byte, as the model reads them
  size_t lineStart = 0;              // in sent: just after its last newline
  bool left = false;
  std::vector<ListenRecord> records;  // its records, in order
};

// Where a connection's data starts after its hello, read from the whole
// stream at once (so that any cut of it into chunks must come to the same);
// npos while the hello may still go on. name: what the hello says.
size_t dataStart(const Connection& connection, bool ended, std::string* name = nullptr) {
  const std::string_view sent = connection.sent;
  if (!connection.hello || sent.empty() || sent[0] != trovex::win32::PipeHelloMark) return 0;
  const size_t end = sent.substr(0, WriterStream::MaxHelloBytes).find(trovex::win32::PipeHelloMark, 1);
  if (end != std::string_view::npos) {
    if (name) name->assign(sent.substr(1, end - 1));
    return end + 1;
  }
  return sent.size() < WriterStream::MaxHelloBytes && !ended ? std::string_view::npos : 0;
}

// The bytes a connection still there has sent that its stream must hold:
// its unfinished hello, or its unfinished line less the pieces handed on.
size_t unfinished(const Connection& connection) {
  const size_t start = dataStart(connection, false);
  if (start == std::string_view::npos) return connection.sent.size();
  return (connection.sent.size() - std::max(start, connection.lineStart)) % WriterStream::MaxLineBytes;
}

// What a connection's bytes are, once it has ended: the name its hello
// says ("" for none), its lines, and how many messages drops count in them.
struct Model {
  std::string name;
  std::vector<std::string> lines;
  std::vector<size_t> unitStarts;  // the lines that start a message, or stand alone
};

Model read(const Connection& connection) {
  Model model;
  const std::string_view data = std::string_view(connection.sent).substr(dataStart(connection, true, &model.name));
  bool inMessage = false;
  for (size_t start = 0; start < data.size();) {
    size_t end = data.find('\n', start);
    if (end == std::string_view::npos) end = data.size();
    model.lines.emplace_back(data.substr(start, end - start));
    const ParsedLine parsed = parseLine(model.lines.back());
    const bool header = parsed.category != Category::Plain;
    if (header || parsed.truncationMarker || !inMessage) model.unitStarts.push_back(model.lines.size() - 1);
    if (header || parsed.truncationMarker) inMessage = header;
    start = end + 1;
  }
  return model;
}

// Joins the connection's line records into the lines shown; checks their marks.
std::vector<std::string> joined(const Connection& connection) {
  std::vector<std::string> lines;
  bool open = false;
  for (const ListenRecord& record : connection.records) {
    if (record.kind == ListenRecord::Kind::Gone) continue;
    check(record.continued == open);
    check(record.ends || record.text.size() == WriterStream::MaxLineBytes);
    if (!open) lines.emplace_back();
    lines.back() += record.text;
    open = !record.ends;
  }
  check(!open);
  return lines;
}

// A shown line that is a piece-cut start of the model's line.
bool cutOf(const std::string& shown, const std::string& line) {
  return !shown.empty() && shown.size() % WriterStream::MaxLineBytes == 0 && shown.size() < line.size() &&
         line.compare(0, shown.size(), shown) == 0;
}

// How many messages a writer's shown lines may have lost, at least and at
// most, when they are its messages in order, each whole or a start of it (a
// line cut only after whole pieces), a message not whole counting as one
// drop. {1, 0} when they are not.
struct Losses {
  size_t least, most;
};
Losses losses(const Model& model, const std::vector<std::string>& shown) {
  const Losses unreached{SIZE_MAX, 0};
  // By the number of shown lines used so far: the fewest and most losses.
  std::vector<Losses> reach(shown.size() + 1, unreached), next(shown.size() + 1);
  reach[0] = {0, 0};
  const std::vector<std::string>& lines = model.lines;
  for (size_t unit = 0; unit < model.unitStarts.size(); ++unit) {
    const size_t first = model.unitStarts[unit];
    const size_t last = unit + 1 < model.unitStarts.size() ? model.unitStarts[unit + 1] : lines.size();
    std::fill(next.begin(), next.end(), unreached);
    for (size_t used = 0; used <= shown.size(); ++used) {
      const Losses from = reach[used];
      if (from.least == SIZE_MAX) continue;
      auto add = [&](size_t to, size_t lost) {
        next[to] = {std::min(next[to].least, from.least + lost), std::max(next[to].most, from.most + lost)};
      };
      size_t line = first, at = used;
      for (; line < last && at < shown.size() && shown[at] == lines[line]; ++line, ++at) add(at, 1);
      if (line == last) {
        add(at, 0);
      } else {
        add(at, 1);
        if (at < shown.size() && cutOf(shown[at], lines[line])) add(at + 1, 1);
      }
    }
    reach.swap(next);
  }
  return reach.back().least == SIZE_MAX ? Losses{1, 0} : reach.back();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t setup = data[0];
  // Mostly a queue of a few lines, so that drops happen; or one that takes
  // a piece of a long line and a little more; or one that never drops.
  const size_t room = RecordOverheadBytes * (1 + ((setup >> 1) & 0x1F));
  const size_t queueBytes = setup < 0x80 ? room : setup < 0xC0 ? WriterStream::MaxLineBytes + 16 * room : ListenQueueBytes;
  const OutputForm form = (setup & 1) ? OutputForm::Json : OutputForm::Plain;
  ViewFilter filter;
  std::string error;
  check(filter.configure({}, &error));
  ListenQueue queue(queueBytes);
  ListenReader reader(filter, &queue);
  ListenOutput output(filter, form);
  std::vector<Connection> connections;
  size_t current[Writers] = {};  // each writer's connection, by index + 1; 0 while not connected
  uint64_t dropped = 0;
  size_t budget = size_t{256} << 10;  // bytes sent in all, so that an input runs fast
  auto now = ListenOutput::Clock::now();
  auto drain = [&] {
    std::vector<ListenQueue::Entry> entries;
    queue.take(&entries, std::chrono::milliseconds(0));
    for (ListenQueue::Entry& entry : entries) {
      dropped += entry.dropped;
      if (entry.item) connections[entry.item->writer - 1].records.push_back(*entry.item);  // ids count from 1
      output.take(std::move(entry), now);
    }
    queue.release();
    now += 2 * ListenOutput::WriterIdle;
    output.idle(now);
    output.output().clear();
  };

  for (size_t at = 1; at < size;) {
    const uint8_t operation = data[at++];
    const size_t writer = operation & 3;
    if (writer == Writers) {
      drain();
      continue;
    }
    const int action = (operation >> 2) & 3;
    std::string chunk;
    if (action == 0) {
      if (current[writer]) continue;
      connections.push_back({connections.size() + 1, (operation & 0x10) != 0, {}, 0, false, {}});
      current[writer] = connections.size();
      reader.take({PipeEvent::Kind::Connected, connections.back().id, static_cast<uint32_t>(writer),
                   "system" + std::to_string(writer), {}, connections.back().hello});
    } else if (action == 3) {
      if (!current[writer]) continue;
      Connection& connection = connections[current[writer] - 1];
      reader.take({PipeEvent::Kind::Gone, connection.id, 0, {}, {}});
      connection.left = true;
      current[writer] = 0;
      continue;
    } else if (action == 1) {
      const size_t length = (at < size ? data[at++] : 0) + ((operation & 0x10) ? 256 : 0);
      const size_t available = std::min(length, size - at);
      for (int repeat = 1 << (operation >> 5); repeat > 0 && chunk.size() < budget; --repeat)
        chunk.append(reinterpret_cast<const char*>(data + at), available);
      at += available;
    } else {
      char byte = at < size ? static_cast<char>(data[at++]) : 'x';
      if (byte == '\n') byte = '\r';
      const size_t length = at < size ? data[at++] : 0;
      chunk.assign(std::min(((length + 1) << 10) << ((operation >> 5) & 1), budget), byte);
    }
    if (action == 1 || action == 2) {
      chunk.resize(std::min(chunk.size(), budget));
      budget -= chunk.size();
      if (!current[writer] || chunk.empty()) continue;
      Connection& connection = connections[current[writer] - 1];
      const size_t newline = chunk.rfind('\n');
      if (newline != std::string::npos) connection.lineStart = connection.sent.size() + newline + 1;
      connection.sent += chunk;
      reader.take({PipeEvent::Kind::Data, connection.id, 0, {}, std::move(chunk)});
    }
    // What each writer still there holds: its unfinished hello or line, no more.
    const Connection& connection = connections[current[writer] - 1];
    const size_t held = reader.heldBytes(connection.id);
    check(held <= WriterStream::MaxHeldBytes);
    check((held == 0) == (unfinished(connection) == 0));
  }
  reader.finish();
  drain();
  output.finish();
  check(output.stats().dropped == dropped);

  size_t least = 0, most = 0;  // messages lost in all
  for (const Connection& connection : connections) {
    const Model model = read(connection);
    const std::vector<std::string> shown = joined(connection);
    const bool lines = !shown.empty();
    if (lines) {
      const WriterTag& tag = *connection.records.front().arrival;
      check(tag.program == (model.name.empty() ? "system" + std::to_string(tag.pid) : model.name));
      for (size_t i = 1; i < connection.records.size(); ++i) check(!connection.records[i].arrival);
    }
    const bool gone = !connection.records.empty() && connection.records.back().kind == ListenRecord::Kind::Gone;
    check(gone == (connection.left && lines));
    // Bounded work: a writer of very many messages beside very many shown
    // lines is only checked for a loss not counted.
    if (model.unitStarts.size() * (shown.size() + 1) > MatchWork) {
      least += shown != model.lines;
      most += model.unitStarts.size();
      continue;
    }
    const Losses lost = losses(model, shown);
    check(lost.least <= lost.most);
    least += lost.least;
    most += lost.most;
  }
  check(least <= dropped && dropped <= most);
  return 0;
}
