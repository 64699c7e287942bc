// trovex-view --listen: serves the named pipe that hosts' debug channels
// write to, takes every process's debug output, and shows what each writer
// writes, tagged with it.
//
// Reading and each output run apart. A thread reads the pipe's writers (the
// platform's PipeListener) and hands their lines, whole, to one queue
// bounded in bytes per output (ListenReader): standard output, and the
// forwarding to a collector. A worker of each output takes from its own
// queue and puts the lines together (ListenOutput). An output that waits (a
// paused terminal, a pager nobody scrolls, a pipe nobody reads, a collector
// that is away) never stops the reading, so never holds a host, and never
// holds the other output. When an output's queue is full, whole messages are
// dropped from it alone, and it says how many where they would have been.
// The system's debug output is a second producer, on a thread and with a
// reader of its own, for the same queues.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "record/filter.h"
#include "record/line.h"
#include "listen/queue.h"
#include "record/view.h"
#include "listen/writer_stream.h"

// What happens at a named pipe that the viewer serves: a writer connects
// (its process id and program name, taken then), sends bytes, or goes away.
// `writer` tells the connections apart for as long as the listener runs.
// The bytes are as they came: the reader (WriterStream) makes lines of them.
struct PipeEvent {
  // Forgotten: the writer may still be there, but its state goes (an idle
  // process of the debug output); it is no departure.
  enum class Kind { Connected, Data, Gone, Forgotten } kind;
  uint64_t writer;
  uint32_t pid;          // Connected
  std::string program;   // Connected: the image's file name, "?" when it cannot be found
  std::string data;      // Data
  bool hello = false;    // Connected: its bytes may open with a hello naming its program
};

// The server of the named pipe "\\.\pipe\NAME": on Windows the pipe itself,
// always with a free instance waiting; elsewhere the local socket that the
// emulation's CreateFileA connects to (common/pipe.h), whose file goes when
// the listener does. Any number of writers at once, each read on its own.
//
// It serves at most a number of writers at once. One beyond waits and never
// holds its host: natively its connection waits in the system's queue (its
// bytes in the socket's buffer, what does not fit counted by the host), on
// Windows it finds the pipe busy and writes to its fallback.
class PipeListener {
 public:
  virtual ~PipeListener() = default;
  // Appends what happened, waiting about a tenth of a second at most when
  // nothing has; false, with the reason in `error`, when serving failed. A
  // wait reads at most MaxPipeReadsPerWait times, at most
  // PipeReadBytesPerWriter bytes from a writer: ready writers beyond those
  // are read first in the next wait.
  virtual bool wait(std::vector<PipeEvent>* events, std::string* error) = 0;
  // Writers connected now, and the most it serves at once.
  virtual size_t writerCount() const = 0;
  virtual size_t maxWriters() const = 0;
};

// The most writers the pipe serves at once: each costs the listener a handle
// (natively a descriptor) and its state (ListenReader, ListenOutput). Above
// the thousand idle connections a machine's hosts may leave open.
constexpr size_t MaxPipeWriters = 1024;
// Descriptors kept back from the writers (POSIX): the standard streams, the
// pipe's server, the debug output's socket, the output file, the forwarder's
// connection and what a new one and a name's lookup open meanwhile. Where
// the process may open fewer than MaxPipeWriters plus these, the pipe serves
// fewer writers.
constexpr size_t ReservedDescriptors = 64;
// What one wait takes at most: MaxPipeReadsPerWait reads of at most
// PipeReadBytesPerWriter bytes (1 MiB), whatever the number of writers.
constexpr size_t PipeReadBytesPerWriter = size_t{16} << 10;
constexpr size_t MaxPipeReadsPerWait = 64;

// Null, with the reason in `error`, when the pipe cannot be served: a bad
// name, or another listener serving it already.
std::unique_ptr<PipeListener> listenOnPipe(const std::string& name, std::string* error,
                                           size_t maxWriters = MaxPipeWriters);

// When to say that the writers have reached the most the pipe serves: as
// they reach it, and again only once they have fallen to three quarters of
// it and reached it anew, so that writers that come and go at the cap do not
// repeat the notice.
class WriterCapNotice {
 public:
  bool due(size_t writers, size_t maxWriters);

 private:
  bool atCap_ = false;
};

// What the reading hands to the output: a line of a writer (or a piece of a
// line longer than WriterStream::MaxLineBytes), or the writer's departure.
struct ListenRecord {
  enum class Kind { Line, Gone, Forgotten } kind = Kind::Line;  // as PipeEvent's
  uint64_t writer = 0;              // as PipeEvent::writer
  std::optional<WriterTag> arrival;  // on the writer's first record: who it is
  std::string text;                 // Line: without its newline
  bool continued = false;           // Line: it goes on a line begun in an earlier record
  bool ends = true;                 // Line: the line ends with it
  std::chrono::system_clock::time_point received;  // Line: when the reading took it
};

// The bound of each output's queue: 16 MiB of records, waiting or held by
// the output's worker, each costing its text and a fixed
// RecordOverheadBytes for its keeping. That is 80,000 lines of 80 bytes:
// eight seconds of a host that writes 10,000 messages a second, with room
// for a few writers' long messages. A bound, not a reservation: memory is
// taken only while the output falls behind.
constexpr size_t ListenQueueBytes = size_t{16} << 20;
constexpr size_t RecordOverheadBytes = 128;
using ListenQueue = BoundedQueue<ListenRecord>;

// The reading half. Each writer's bytes are cut into lines, and each line
// goes to every queue; a line that does not fit in a queue is dropped from
// it with the rest of its message (its lines without a header), and counts
// there as one message dropped. A writer that
// --pid or --process hides costs the queue nothing: its messages are only
// counted. Writers that never sent a line cost it nothing either.
//
// A writer costs the reading its fixed state (a few hundred bytes) and at
// most WriterStream::MaxHeldBytes (64 KiB) more while a hello or a line of it
// is unfinished; one with neither, such as a connection that never writes,
// costs the fixed state alone. Longer lines go on in pieces.
class ListenReader {
 public:
  // queues: one per output, at least one; source: put on each writer's tag
  // (WriterTag::source).
  ListenReader(const ViewFilter& filter, std::vector<ListenQueue*> queues, const char* source = nullptr);
  ListenReader(const ViewFilter& filter, ListenQueue* queue, const char* source = nullptr)
      : ListenReader(filter, std::vector<ListenQueue*>{queue}, source) {}
  ~ListenReader();
  void take(PipeEvent event);
  // The listener ends: the unfinished last lines of the writers still there
  // are handed on, and no departures.
  void finish();
  // Bytes held for a writer's unfinished hello or line; 0 for one not there.
  size_t heldBytes(uint64_t writer) const;
  // Messages of hidden writers (read once the reading has ended).
  uint64_t hiddenMessages() const { return hidden_; }
  // Writers whose state it holds.
  size_t writerCount() const { return writers_.size(); }

 private:
  struct Writer;
  void named(Writer* writer, std::string_view name);
  void line(Writer* writer, std::string_view piece, bool continued, bool ends);

  const ViewFilter& filter_;
  const std::vector<ListenQueue*> queues_;
  const char* const source_;
  std::map<uint64_t, std::unique_ptr<Writer>> writers_;
  uint64_t hidden_ = 0;
};

// The output half: each writer's lines through a viewer of its own (view.h),
// the notices of drops, and the writers' departures. For JSON or forwarding
// a writer's message is put together into records whose text goes on in
// parts of WriterStream::MaxLineBytes, so that a writer costs this half at
// most that and a line's piece while a message lasts, and its fixed state
// after.
class ListenOutput {
 public:
  using Clock = std::chrono::steady_clock;
  // A writer that has sent nothing for this long is idle: a JSON record
  // waiting for the end of its message is written.
  static constexpr auto WriterIdle = std::chrono::milliseconds(100);

  // forward: where each writer's records go besides the output, or null;
  // times: each line shown after the time it came (--time).
  ListenOutput(const ViewFilter& filter, OutputForm form, RecordSink* forward = nullptr, bool times = false)
      : filter_(filter), form_(form), forward_(forward), times_(times) {}
  void take(ListenQueue::Entry entry, Clock::time_point now);
  void idle(Clock::time_point now);
  // The listener ends: each writer's last message ends, none is shown gone.
  void finish();

  // Text ready to print; the caller writes it out and clears it.
  std::string& output() { return output_; }
  // Counts of the writers gone (all of them after finish) and of drops.
  const Stats& stats() const { return stats_; }
  // Writers whose state it holds.
  size_t writerCount() const { return writers_.size(); }

 private:
  struct Writer {
    std::unique_ptr<Viewer> viewer;
    bool pending = false;  // lines came since it was last idle
    Clock::time_point lastLine;
  };
  void collect(Writer* writer);  // moves its viewer's text to the output
  void end(Writer* writer, bool gone);

  const ViewFilter& filter_;
  const OutputForm form_;
  RecordSink* const forward_;
  const bool times_;
  std::map<uint64_t, Writer> writers_;
  std::string output_;
  Stats stats_;
};

// The system's debug output as a pipe's events (debug_output.h): each
// process is a writer of its own, known by its process id, that connects
// with its first text (a new program under the same id is a new writer). The
// system does not say when a process ends: one that has passed no text for
// IdleTime is forgotten, its state freed without a departure, and its next
// text makes it a writer anew. A text of fewer than DebuggerPieceSize bytes
// that ends no line ends it, so that each call of a program that is no
// trovex host is a line; a longer one is a channel's piece of a long
// message, which goes on in the next text.
class DebugOutputWriters {
 public:
  using Clock = std::chrono::steady_clock;
  // Writer ids from here on, apart from those of the pipe's writers.
  static constexpr uint64_t FirstId = uint64_t{1} << 32;
  // Long beside a host's pauses between messages, short beside the listener's
  // weeks: a machine's programs that write now and then cost it nothing
  // between their bursts.
  static constexpr auto IdleTime = std::chrono::seconds(60);

  void take(DebugOutputText text, std::vector<PipeEvent>* events, Clock::time_point now = Clock::now());
  // Forgets the processes idle for IdleTime or more at `now`.
  void forgetIdle(Clock::time_point now, std::vector<PipeEvent>* events);
  size_t processCount() const { return processes_.size(); }

 private:
  struct Process {
    std::string program;
    Clock::time_point lastText;
  };
  std::map<uint32_t, Process> processes_;  // by process id: those seen within IdleTime
};

// Which sources the listener takes (--source).
enum class ListenSources { All, Pipe, DebugOutput };

// Serves "\\.\pipe\NAME" and takes every process's debug output, or one
// of the two, until the program stops (console.h), adding the counts to
// stats; what passes the filter also goes to forward, if given. When the
// debug output is taken by another monitor, the listener says so and goes
// on with the pipe alone. times: as ListenOutput's. False, after a notice, when no source asked for
// can be served.
bool listenLive(const std::string& name, ListenSources sources, const ViewFilter& filter, OutputForm form,
                bool times, Stats* stats, RecordSink* forward = nullptr);
