// The listener: a reading thread and the output, with the queue between.
#include "listen/listen.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <optional>
#include <thread>

#include "common/contract.h"
#include "common/texts.h"
#include "forward/syslog.h"
#include "platform/network.h"
#include "record/console.h"
#include "platform/platform.h"

namespace {

// The forwarding's record of messages that its queue dropped.
std::string forwardDroppedText(uint64_t count) {
  return "--- " + std::to_string(count) + (count == 1 ? " message" : " messages") +
         " dropped: the listener's forwarding fell behind ---";
}

}  // namespace

struct ListenReader::Writer {
  // What one queue has had of the writer.
  struct Lane {
    bool introduced = false;  // a record of it is out: its departure goes out too
    bool skipping = false;    // its current message did not fit: the rest goes too
    bool lineOpen = false;    // the last record out was a piece that did not end its line
  };

  Writer(ListenReader* reader, uint64_t id, WriterTag tag, bool hello, size_t queues)
      : id(id),
        tag(std::move(tag)),
        lanes(queues),
        stream(
            hello, [reader, this](std::string_view name) { reader->named(this, name); },
            [reader, this](std::string_view piece, bool continued, bool ends) {
              reader->line(this, piece, continued, ends);
            }) {}

  const uint64_t id;
  WriterTag tag;            // its program as its hello says, once it has said it
  bool shown = false;       // --pid and --process let it through (known once it is named)
  bool inMessage = false;   // a header came since the start or the last cut marker
  std::vector<Lane> lanes;  // by queue, in the reader's order
  WriterStream stream;
};

ListenReader::ListenReader(const ViewFilter& filter, std::vector<ListenQueue*> queues, const char* source)
    : filter_(filter), queues_(std::move(queues)), source_(source) {
  TROVEX_ASSERT(!queues_.empty());
}
ListenReader::~ListenReader() = default;

void ListenReader::take(PipeEvent event) {
  if (event.kind == PipeEvent::Kind::Connected) {
    writers_[event.writer] = std::make_unique<Writer>(
        this, event.writer, WriterTag{event.pid, std::move(event.program), source_}, event.hello, queues_.size());
    return;
  }
  const auto found = writers_.find(event.writer);
  if (found == writers_.end()) return;
  Writer* writer = found->second.get();
  if (event.kind == PipeEvent::Kind::Data) {
    writer->stream.feed(event.data);
    return;
  }
  writer->stream.finish();  // its last words, though no newline ended them
  for (size_t i = 0; i < queues_.size(); ++i) {
    if (!writer->lanes[i].introduced) continue;
    ListenRecord gone;
    gone.kind = event.kind == PipeEvent::Kind::Gone ? ListenRecord::Kind::Gone : ListenRecord::Kind::Forgotten;
    gone.writer = writer->id;
    queues_[i]->pushAlways(std::move(gone), RecordOverheadBytes);
  }
  writers_.erase(found);
}

void ListenReader::finish() {
  for (auto& entry : writers_) entry.second->stream.finish();
  writers_.clear();
}

size_t ListenReader::heldBytes(uint64_t writer) const {
  const auto found = writers_.find(writer);
  return found == writers_.end() ? 0 : found->second->stream.heldBytes();
}

void ListenReader::named(Writer* writer, std::string_view name) {
  if (!name.empty()) writer->tag.program.assign(name);
  writer->shown = filter_.writerPasses(writer->tag.pid, writer->tag.program);
}

void ListenReader::line(Writer* writer, std::string_view piece, bool continued, bool ends) {
  bool starts = false;  // the line begins a message, or stands alone
  uint64_t counts = 1;  // messages a drop of the line loses: a loss notice's tell of its own
  if (!continued) {
    const ParsedLine parsed = parseLine(piece);
    const bool header = parsed.category != Category::Plain;
    if (!writer->shown) {
      hidden_ += header;
      return;
    }
    // The channel's notice of lost messages belongs to no message: it gets
    // through though the message before it was dropped.
    const bool standsAlone = parsed.truncationMarker || parsed.lossNotice;
    starts = header || standsAlone || !writer->inMessage;
    if (header || standsAlone) writer->inMessage = header;
    // A host's notice that is dropped takes its count with it: it goes to the drops.
    if (parsed.lossNotice) counts = std::max<uint64_t>(parsed.lostMessages, 1);
  }
  if (!writer->shown) return;
  const auto received = std::chrono::system_clock::now();
  for (size_t i = 0; i < queues_.size(); ++i) {
    Writer::Lane& lane = writer->lanes[i];
    if (starts) lane.skipping = false;
    if (lane.skipping) continue;
    ListenRecord record;
    record.writer = writer->id;
    if (!lane.introduced) record.arrival = writer->tag;
    record.text.assign(piece);
    record.continued = continued;
    record.ends = ends;
    record.received = received;
    // The cost covers every byte the record keeps, so the bound holds.
    const size_t cost = RecordOverheadBytes + piece.size() + (record.arrival ? writer->tag.program.size() : 0);
    if (queues_[i]->push(std::move(record), cost, counts)) {
      lane.introduced = true;
      lane.lineOpen = !ends;
      continue;
    }
    lane.skipping = true;
    if (lane.lineOpen) {
      // The line's start is out: end it there, so the next line starts anew.
      ListenRecord end;
      end.writer = writer->id;
      end.continued = true;
      queues_[i]->pushAlwaysBeforeDrops(std::move(end), RecordOverheadBytes);
      lane.lineOpen = false;
    }
  }
}

void ListenOutput::take(ListenQueue::Entry entry, Clock::time_point now) {
  if (entry.dropped > 0) {
    // Records that wait for the end of their message go out first: they
    // came before the loss.
    for (auto& waiting : writers_) {
      waiting.second.viewer->idle();
      collect(&waiting.second);
    }
    stats_.dropped += entry.dropped;
    appendDropped(&output_, form_ == OutputForm::Json, entry.dropped);
    // The collector learns of the gap where it is, as of its own queue's.
    if (forward_) {
      const WriterTag viewer{currentProcessId(), ViewerProgram};
      forward_->take(viewerNotice(forwardDroppedText(entry.dropped)), &viewer);
    }
  }
  if (!entry.item) return;
  ListenRecord& record = *entry.item;
  auto found = writers_.find(record.writer);
  if (record.arrival && found == writers_.end()) {
    found = writers_.emplace(record.writer, Writer{}).first;
    // A writer's records are bounded as its lines are (listen.h).
    found->second.viewer =
        std::make_unique<Viewer>(filter_, form_, &*record.arrival, forward_, WriterStream::MaxLineBytes);
    found->second.viewer->setLive(true);
    found->second.viewer->showTimes(times_);
  }
  if (found == writers_.end()) return;
  Writer& writer = found->second;
  if (record.kind != ListenRecord::Kind::Line) {
    end(&writer, record.kind == ListenRecord::Kind::Gone);
    writers_.erase(found);
    return;
  }
  writer.viewer->line(record.text, record.continued, record.ends, record.received);
  writer.pending = true;
  writer.lastLine = now;
  collect(&writer);
}

void ListenOutput::collect(Writer* writer) {
  output_ += writer->viewer->output();
  writer->viewer->output().clear();
}

void ListenOutput::idle(Clock::time_point now) {
  for (auto& entry : writers_) {
    Writer& writer = entry.second;
    if (!writer.pending || now - writer.lastLine < WriterIdle) continue;
    writer.pending = false;
    writer.viewer->idle();
    collect(&writer);
  }
}

void ListenOutput::finish() {
  for (auto& entry : writers_) end(&entry.second, false);
  writers_.clear();
}

void ListenOutput::end(Writer* writer, bool gone) {
  writer->viewer->finish();
  if (gone) writer->viewer->note(SourceEvent::Gone);
  collect(writer);
  stats_.add(writer->viewer->stats());
}

bool WriterCapNotice::due(size_t writers, size_t maxWriters) {
  if (writers >= maxWriters) {
    const bool reached = !atCap_;
    atCap_ = true;
    return reached;
  }
  if (writers <= maxWriters - maxWriters / 4) atCap_ = false;
  return false;
}

void DebugOutputWriters::take(DebugOutputText text, std::vector<PipeEvent>* events, Clock::time_point now) {
  if (text.text.empty()) return;
  const uint64_t id = FirstId + text.pid;
  const auto known = processes_.find(text.pid);
  // A process that has ended by the time its text is read has no name to
  // find ("?"): it is still the writer known by its id.
  if (known != processes_.end() && text.program == "?") text.program = known->second.program;
  if (known == processes_.end() || known->second.program != text.program) {
    if (known != processes_.end()) events->push_back({PipeEvent::Kind::Gone, id, 0, {}, {}});
    processes_[text.pid].program = text.program;
    events->push_back({PipeEvent::Kind::Connected, id, text.pid, text.program, {}});
  }
  processes_[text.pid].lastText = now;
  if (text.text.back() != '\n' && text.text.size() < trovex::DebuggerPieceSize) text.text.push_back('\n');
  events->push_back({PipeEvent::Kind::Data, id, 0, {}, std::move(text.text)});
}

void DebugOutputWriters::forgetIdle(Clock::time_point now, std::vector<PipeEvent>* events) {
  for (auto process = processes_.begin(); process != processes_.end();) {
    if (now - process->second.lastText < IdleTime) {
      ++process;
      continue;
    }
    events->push_back({PipeEvent::Kind::Forgotten, FirstId + process->first, 0, {}, {}});
    process = processes_.erase(process);
  }
}

namespace {

// How long the end gives the output for what is still queued, and how many
// records are taken between two looks at the clock.
constexpr auto EndDrain = std::chrono::milliseconds(100);
constexpr size_t EndDrainLook = 256;

// A thread that hands one source's events to its reader until the listener
// ends or the source fails (which ends the listener); the last of the
// sources to end closes the queues.
struct LiveSource {
  std::string name;        // for the notice of a failure
  ListenReader reader;
  bool failed = false;     // written by its thread, read once the thread has ended
  std::string error;
  std::thread thread;

  LiveSource(std::string name, const ViewFilter& filter, const std::vector<ListenQueue*>& queues, const char* source)
      : name(std::move(name)), reader(filter, queues, source) {}

  // wait: appends what came to events; false, with the reason, when it failed.
  template <typename Wait>
  void start(Wait wait, std::atomic<bool>* ending, std::atomic<int>* running, std::vector<ListenQueue*> queues) {
    thread = startWorker([this, wait, ending, running, queues]() mutable {
      std::vector<PipeEvent> events;
      while (!*ending) {
        events.clear();
        failed = !wait(&events, &error);
        if (failed) break;
        for (PipeEvent& event : events) reader.take(std::move(event));
      }
      if (failed) *ending = true;  // the listener ends with it
      reader.finish();
      if (--*running == 0)
        for (ListenQueue* queue : queues) queue->close();
    });
  }
};

// An output of the listener: its own queue, and a worker that takes from it,
// puts the lines together and hands them on. Standard output waits on its
// writes here; the forwarding only queues records (forward.h). Either one
// that falls behind fills its own queue alone.
struct ListenLane {
  ListenQueue queue{ListenQueueBytes};
  ListenOutput output;
  const bool shows;  // its text goes to standard output; else it only forwards or counts
  std::atomic<bool> done{false};
  std::thread thread;

  ListenLane(const ViewFilter& filter, OutputForm form, RecordSink* forward, bool times)
      : output(filter, form, forward, times), shows(form != OutputForm::Quiet) {}

  // Lines read before the end that the end left no time for.
  uint64_t unhanded = 0;

  void start() {
    thread = startWorker([this] {
      std::vector<ListenQueue::Entry> entries;
      // What was read is handed on to the end; after an end signal, or once
      // the output has ended, for EndDrain at most, so that the listener
      // ends within a second however much the queue holds. The rest is
      // counted and said.
      std::optional<ListenOutput::Clock::time_point> drainEnds;
      while (queue.take(&entries, ListenOutput::WriterIdle)) {
        auto now = ListenOutput::Clock::now();
        for (size_t i = 0; i < entries.size(); ++i) {
          if (i % EndDrainLook == 0) now = ListenOutput::Clock::now();
          if (drainEnds && now > *drainEnds) unhanded += entries[i].item ? 1 : 0;
          else output.take(std::move(entries[i]), now);
        }
        entries.clear();
        output.idle(now);
        handOn();
        if (stopping() && !drainEnds) drainEnds = ListenOutput::Clock::now() + EndDrain;
      }
      output.finish();
      handOn();
      done = true;
    });
  }
  void handOn() {
    if (shows) show(&output.output());
    else output.output().clear();
  }
};

}  // namespace

bool listenLive(const std::string& name, ListenSources sources, const ViewFilter& filter, OutputForm form,
                bool times, Stats* stats, RecordSink* forward) {
  const std::string path = trovex::PipePathPrefix + name;
  std::string error;
  std::unique_ptr<PipeListener> listener;
  if (sources != ListenSources::DebugOutput) {
    listener = listenOnPipe(name, &error);
    if (!listener) {
      notice("cannot listen on " + path + ": " + error);
      return false;
    }
  }
  std::unique_ptr<DebugOutputMonitor> monitor;
  if (sources != ListenSources::Pipe) {
    monitor = monitorDebugOutput(&error);
    if (!monitor && !listener) {
      notice("cannot take the debug output: " + error);
      return false;
    }
    if (!monitor) notice("cannot take the debug output (" + error + "); listening on the pipe alone");
  }
  if (listener) notice("listening on " + path);
  if (monitor) notice("listening to the debug output of every process");
  // Standard output has a lane unless it shows nothing and there is
  // forwarding to count the messages instead.
  std::optional<ListenLane> shown, forwarded;
  if (form != OutputForm::Quiet || !forward) shown.emplace(filter, form, nullptr, times);
  if (forward) forwarded.emplace(filter, OutputForm::Quiet, forward, times);
  std::vector<ListenLane*> lanes;
  std::vector<ListenQueue*> queues;
  for (std::optional<ListenLane>* lane : {&shown, &forwarded}) {
    if (!*lane) continue;
    lanes.push_back(&**lane);
    queues.push_back(&(*lane)->queue);
  }
  std::atomic<bool> ending{false};
  std::atomic<int> running{(listener ? 1 : 0) + (monitor ? 1 : 0)};
  LiveSource pipe(path, filter, queues, nullptr);
  LiveSource debug("the debug output", filter, queues, DebugOutputSource);
  for (ListenLane* lane : lanes) lane->start();
  WriterCapNotice capNotice;
  if (listener)
    pipe.start(
        [&](std::vector<PipeEvent>* events, std::string* failure) {
          if (!listener->wait(events, failure)) return false;
          const size_t most = listener->maxWriters();
          assert(listener->writerCount() <= most);
          if (capNotice.due(listener->writerCount(), most))
            notice(std::to_string(most) +
                   " writers are connected, the most the pipe serves at once: others wait until one goes");
          return true;
        },
        &ending, &running, queues);
  DebugOutputWriters writers;
  std::vector<DebugOutputText> texts;
  if (monitor)
    debug.start(
        [&](std::vector<PipeEvent>* events, std::string* failure) {
          texts.clear();
          if (!monitor->wait(&texts, failure)) return false;
          const auto now = DebugOutputWriters::Clock::now();
          for (DebugOutputText& text : texts) writers.take(std::move(text), events, now);
          writers.forgetIdle(now, events);
          return true;
        },
        &ending, &running, queues);
  // The program's own thread only watches for the end: the end signals
  // reach it, and it waits on no output.
  constexpr std::chrono::milliseconds LookEvery(50);
  while (!std::all_of(lanes.begin(), lanes.end(), [](const ListenLane* lane) { return lane->done.load(); })) {
    if (stopping()) ending = true;
    std::this_thread::sleep_for(LookEvery);
  }
  bool failed = false;
  for (LiveSource* source : {&pipe, &debug}) {
    if (!source->thread.joinable()) continue;
    source->thread.join();
    stats->hiddenMessages += source->reader.hiddenMessages();
    if (source->failed) notice("cannot serve " + source->name + ": " + source->error);
    failed |= source->failed;
  }
  for (ListenLane* lane : lanes) {
    lane->thread.join();
    if (lane->unhanded > 0)
      notice(std::to_string(lane->unhanded) + " lines read before the end were not " +
             (lane->shows ? "shown" : "forwarded") + ": the end came first");
  }
  // The counts of what was shown come from standard output's lane, or else
  // from the forwarding's; the forwarding's drops are its own.
  if (shown) stats->add(shown->output.stats());
  if (forwarded) {
    Stats counts = forwarded->output.stats();
    counts.forwardDropped = counts.dropped;
    counts.dropped = 0;
    if (shown) stats->forwardDropped += counts.forwardDropped;
    else stats->add(counts);
  }
  return !failed;
}
