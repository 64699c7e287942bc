// trovex-view: reads, follows and filters the library's output from a
// protocol file, a serial port or standard input, or live from hosts through
// a named pipe (listen.h). Here: the options, and the readers of one source.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "common/texts.h"
#include "record/console.h"
#include "record/follow.h"
#include "forward/forward.h"
#include "listen/listen.h"
#include "platform/platform.h"
#include "protocol/protocol.h"
#include "forward/syslog.h"
#include "record/view.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// Exit codes.
constexpr int ExitOk = 0;
constexpr int ExitSourceFailed = 1;  // the file, device or input cannot be opened or read
constexpr int ExitUsage = 2;

constexpr size_t ReadBlock = 65536;

const char Examples[] = R"(Examples:
  trovex-view demo-protocol.txt
      show a protocol file, coloured on a terminal
  trovex-view --follow --exclude "*DEBUG*" app-protocol.txt
      follow it as the library writes it, across the library's own cuts
  trovex-view --serial /dev/ttyUSB0 --include "NET*;IO" --no-init
      read the debug channel from a serial port (COM2 on Windows)
  some-host 2>&1 | trovex-view --stats -
      read standard input (here the channel on standard error), then count
  trovex-view --listen --no-init
      show live what every host whose debug channel names \\.\pipe\trovex writes
  trovex-view --json app-protocol.txt | jq -r 'select(.category == "error") | .text'
      one JSON object per message, for jq and log shippers
  trovex-view --listen --quiet --forward syslog+tcp://logs.example.net
      hand every host's messages to the machines' syslog collector (RFC 5424)

Filtering uses the library's own rules: patterns with "*", "?" and "[set]",
compared without regard to case, separated by ";" ("\;" is a literal ";").
An identifier that matches --exclude is hidden; with --include, only
identifiers that match it are shown. Lines without a header belong to the
message above them. Colour: NO_COLOR in the environment switches it off for
--color=auto. The library writes Windows-1252; text is shown in the
terminal's encoding, by the locale (--encoding to choose, raw for the bytes).
With --listen, each line comes after "[pid program] " of the host that wrote
it, and a host that goes away is shown as gone. The listener also shows what
every process passes to OutputDebugStringA (its debug output), tagged the same
way; a program that is no trovex host writes lines without a category, which
--json marks "source":"debug-output". When another debug-output monitor runs,
the listener says so and serves the pipe alone. With --forward, each message
that passes the filters is also one record to the collector; a collector that
cannot be reached is tried again, and at the end the viewer says how many
records never reached it.

Exit status: 0 done (or interrupted), 1 the source cannot be opened or read,
2 wrong usage.)";

struct Options {
  std::string file;
  std::string serial;
  std::string listen;  // the pipe's name, with --listen
  std::string source = "all";  // with --listen: pipe, debug-output or all
  std::vector<uint32_t> pids;
  std::vector<std::string> programs;
  bool follow = false;
  bool stats = false;
  bool json = false;
  std::string time;  // with --time: "true", or "date" (--time=date)
  std::string encoding = "auto";
  std::vector<std::string> include, exclude;
  bool noErrors = false, noWarnings = false, noInit = false;
  unsigned intervalMs = 200;
  std::string forward;  // the collector's URL, with --forward
  std::string facility = "user";
  bool quiet = false;
  std::string color = "auto";  // --color
  std::string output;  // --output FILE
  std::string rotate;  // --rotate daily|SIZE
  unsigned keep = 7;   // --keep N
};

std::string joinList(const std::vector<std::string>& lists) {
  std::string joined;
  for (const std::string& list : lists) joined += (joined.empty() ? "" : ";") + list;
  return joined;
}

void flush(Viewer* viewer) { show(&viewer->output()); }

// Waits for the poll interval, in short steps so that an interrupt ends it.
void pause(unsigned milliseconds) {
  for (unsigned waited = 0; waited < milliseconds && !stopping(); waited += 20)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Where the records of every viewer go besides (--forward), or null.
RecordSink* forwarding = nullptr;

void addForwardOptions(CLI::App& app, Options* options) {
  CLI::Option* forward =
      app.add_option("--forward", options->forward,
                     "also send each message to syslog+tcp://HOST[:PORT] (601) or syslog+udp://HOST[:PORT] (514)")
          ->type_name("URL");
  app.add_option("--facility", options->facility,
                 "the records' syslog facility: user, local0 to local7, another name or its number")
      ->type_name("NAME")
      ->needs(forward);
  app.add_flag("--quiet", options->quiet, "show nothing (with --forward: only forward)");
}

// The forwarding settings of the options; false, with the reason, for a
// URL or a facility that cannot be used.
bool forwardSettings(const Options& options, ForwardSettings* settings, std::string* error) {
  if (!parseForwardUrl(options.forward, &settings->target, error)) return false;
  settings->url = options.forward;
  settings->facility = syslogFacility(options.facility);
  if (settings->facility < 0) {
    *error = "--facility: unknown facility " + options.facility;
    return false;
  }
  // Records of a file or a serial port carry its name as their program;
  // standard input's carry none.
  const std::string& source = options.file.empty() ? options.serial : options.file;
  if (source != "-") settings->sourceName = std::filesystem::path(source).filename().string();
  return true;
}

// How long forwarding may go on sending after an end signal: the program
// ends within a second of one, whatever the collector does.
constexpr std::chrono::milliseconds ForwardAfterSignal(150);

// Ends forwarding, says what never reached the collector, and counts it.
// After an end signal it gets ForwardAfterSignal; a forwarder whose thread
// is still inside a call to the network then is left to the process's end.
void endForwarding(std::unique_ptr<Forwarder>* forwarder, const std::string& url, Stats* counts) {
  if (!*forwarder) return;
  if (counts->forwardDropped > 0)
    notice(std::to_string(counts->forwardDropped) + (counts->forwardDropped == 1 ? " message" : " messages") +
           " never reached " + url + " (dropped while the listener's forwarding fell behind)");
  const ForwardTotals totals = endRequested() ? (*forwarder)->finish(ForwardAfterSignal) : (*forwarder)->finish();
  counts->collectorDropped += totals.dropped;
  counts->unsent += totals.unsent;
  if (totals.cutShort) {
    forwarder->release();  // the process's end ends that call
    notice("forwarding to " + url + " was cut short at the end: the collector did not answer in time, and what was "
           "still queued was not sent");
    return;
  }
  if (totals.dropped + totals.unsent == 0) return;
  notice(std::to_string(totals.dropped + totals.unsent) + " records never reached " + url + " (" +
         std::to_string(totals.dropped) + " dropped while the queue was full, " + std::to_string(totals.unsent) +
         " still queued at the end)");
}

int viewFile(const Options& options, Viewer* viewer) {
  Follower follower(options.file, trovex::DefaultKeepSize);
  std::string chunk, error;
  std::error_code lookFailed;
  if (options.follow && !std::filesystem::exists(options.file, lookFailed) && !lookFailed) {
    follower.awaitCreation();
    notice(options.file + " does not exist yet; waiting for it");
  } else if (!follower.start(&chunk, &error)) {
    notice("cannot open " + options.file + ": " + error);
    return ExitSourceFailed;
  }
  viewer->feed(chunk.data(), chunk.size());
  flush(viewer);
  viewer->setLive(true);  // what comes now was written after the start
  while (options.follow && !stopping()) {
    pause(options.intervalMs);
    chunk.clear();
    switch (follower.poll(&chunk)) {
      case Follower::Event::None:
        break;
      case Follower::Event::Cut:
        viewer->note(SourceEvent::Cut, follower.marker());
        notice(options.file + " was cut by the library (" + inShownEncoding(follower.marker()) +
               "); going on after what was shown");
        break;
      case Follower::Event::CutUnmatched:
        viewer->finish();
        viewer->note(SourceEvent::Cut, follower.marker());
        notice(options.file + " was cut by the library (" + inShownEncoding(follower.marker()) +
               "); its kept part does not continue what was shown, so it is shown from the cut");
        break;
      case Follower::Event::Restarted:
        viewer->finish();
        viewer->note(SourceEvent::Restart);
        notice(options.file + " was written anew (a new run); reading it from its start");
        break;
      case Follower::Event::Missing:
        viewer->note(SourceEvent::Removed);
        notice(options.file + " was removed; waiting for it to come back");
        break;
      case Follower::Event::Back:
        viewer->finish();
        viewer->note(SourceEvent::Back);
        notice(options.file + " is back; reading it from its start");
        break;
      case Follower::Event::Created:
        notice(options.file + " exists now; reading it");
        break;
    }
    if (chunk.empty()) viewer->idle();
    viewer->feed(chunk.data(), chunk.size());
    flush(viewer);
  }
  return ExitOk;
}

int viewSource(ByteSource* source, const std::string& name, Viewer* viewer) {
  std::vector<char> buffer(ReadBlock);
  std::string error;
  while (!stopping()) {
    const long got = source->read(buffer.data(), buffer.size(), &error);
    if (got == ByteSource::EndOfInput) break;
    if (got == ByteSource::ReadFailed) {
      viewer->finish();
      flush(viewer);
      notice("cannot read " + name + ": " + error);
      return ExitSourceFailed;
    }
    if (got == 0) viewer->idle();
    viewer->feed(buffer.data(), static_cast<size_t>(got));
    flush(viewer);
  }
  return ExitOk;
}

// Reads the command line into options: Parsed, or the status to exit with
// at once (--help and --version done, a usage error told).
constexpr int Parsed = -1;
int parseOptions(int argc, char** argv, Options* options) {
  CLI::App app{"Shows, follows and filters the output of the trovex library: its protocol file,\n"
               "its debug channel on a serial port or live through a named pipe, or standard input.",
               "trovex-view"};
  app.footer(Examples);
  app.add_option("file", options->file, "protocol file to read, or - for standard input")->type_name("FILE");
  CLI::Option* serial = app.add_option("--serial", options->serial,
                                       "read a serial port instead (19200 baud, 8N1, raw)")
                             ->type_name("DEVICE");
  CLI::Option* follow = app.add_flag("-f,--follow", options->follow,
                                     "keep reading the file as it grows, across the library's cuts");
  CLI::Option* listen =
      app.add_option("--listen", options->listen,
                     "serve the named pipe \\\\.\\pipe\\NAME (trovex) that hosts' debug channels write to")
          ->type_name("[NAME]")
          ->expected(0, 1);
  app.add_option("--interval", options->intervalMs, "milliseconds between looks at a followed file (200)")
      ->type_name("MS")
      ->check(CLI::Range(10u, 60000u));
  app.add_option("-i,--include", options->include, "show only identifiers matching this pattern list (may be repeated)")
      ->type_name("LIST")
      ->allow_extra_args(false);
  app.add_option("-x,--exclude", options->exclude, "hide identifiers matching this pattern list (may be repeated)")
      ->type_name("LIST")
      ->allow_extra_args(false);
  app.add_option("--source", options->source,
                 "with --listen: take the pipe, every process's debug output (debug-output), or both (all, the default)")
      ->type_name("WHICH")
      ->check(CLI::IsMember({"pipe", DebugOutputSource, "all"}))
      ->needs(listen);
  app.add_option("--pid", options->pids, "with --listen: show only the host of this process id (may be repeated)")
      ->type_name("PID")
      ->allow_extra_args(false)
      ->needs(listen);
  app.add_option("--process", options->programs,
                 "with --listen: show only hosts whose program matches this pattern list (may be repeated)")
      ->type_name("LIST")
      ->allow_extra_args(false)
      ->needs(listen);
  app.add_flag("--no-errors", options->noErrors, "hide error messages");
  app.add_flag("--no-warnings", options->noWarnings, "hide warnings");
  app.add_flag("--no-init", options->noInit, "hide init messages");
  app.add_option("--color", options->color, "colour by category: auto (on a terminal), always, never")
      ->type_name("WHEN")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  CLI::Option* encoding =
      app.add_option("--encoding", options->encoding,
                     "text in this encoding: auto (the terminal's), utf-8, raw, or another the system knows")
          ->type_name("NAME");
  CLI::Option* stats =
      app.add_flag("--stats", options->stats, "at the end, count the messages shown per category and identifier");
  app.add_flag("--json", options->json,
               "one JSON object per message (category, id, text), and per cut or new run; UTF-8")
      ->excludes(stats)
      ->excludes(encoding);
  app.add_flag("--time", options->time,
               "show the local time each line came, to the millisecond, before it (lines that come live);\n"
               "--time=date shows the date and UTC offset too")
      ->check([](const std::string& form) {  // a flag alone is "true"
        return form == "true" || form == "date" ? std::string() : "its one form is date (--time=date)";
      })
      ->option_text("[=date]");
  CLI::Option* output =
      app.add_option("--output", options->output, "write into FILE instead of standard output (opened again on SIGHUP)")
          ->type_name("FILE");
  CLI::Option* rotate = app.add_option("--rotate", options->rotate,
                                       "with --output: move FILE aside each day (daily) or before it passes SIZE (10M)")
                            ->type_name("WHEN")
                            ->needs(output);
  app.add_option("--keep", options->keep, "with --rotate: the old files kept, the newest (7)")
      ->type_name("N")
      ->check(CLI::Range(1u, 10000u))
      ->needs(rotate);
  addForwardOptions(app, options);
  serial->excludes(follow);
  listen->excludes(serial)->excludes(follow);
  app.set_version_flag("--version", "trovex-view " TROVEX_VERSION, "Print the version and exit");
  try {
    app.parse(argc, argv);
    const bool listening = listen->count() > 0;
    if (!options->file.empty() + !options->serial.empty() + listening != 1)
      throw CLI::ValidationError("give a file (or - for standard input), --serial DEVICE, or --listen [NAME]");
    if (listening && options->listen.empty()) options->listen = trovex::DefaultPipeName;
    if (options->follow && options->file == "-")
      throw CLI::ValidationError("--follow needs a file; standard input is read to its end anyway");
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);  // --help, --version: done
    notice(std::string(e.what()) + " (trovex-view --help lists the options)");
    return ExitUsage;
  }
  return Parsed;

}

// Sets up what every source shares: the filter, the shown encoding and the
// output file. Parsed, or the status to exit with (told).
int setUp(const Options& options, ViewFilter* filter) {
  FilterSettings settings;
  settings.include = joinList(options.include);
  settings.exclude = joinList(options.exclude);
  settings.errors = !options.noErrors;
  settings.warnings = !options.noWarnings;
  settings.init = !options.noInit;
  settings.pids = options.pids;
  settings.programs = joinList(options.programs);
  std::string error;
  if (!filter->configure(settings, &error)) {
    notice(error);
    return ExitUsage;
  }
  // JSON is UTF-8 already: raw for it.
  if (!chooseShownEncoding(options.json ? "raw" : options.encoding, &error)) {
    notice(error);
    return ExitUsage;
  }
  if (!options.output.empty()) {
    Rotation rotation;
    rotation.keep = options.keep;
    if (!options.rotate.empty() && !parseRotation(options.rotate, &rotation, &error)) {
      notice(error + " (trovex-view --help lists the options)");
      return ExitUsage;
    }
    if (!showIntoFile(options.output, rotation, &error)) {
      notice(error);
      return ExitSourceFailed;
    }
  }
  return Parsed;
}

// Shows what options name, and forwards it: the exit status.
int run(const Options& options) {
  ViewFilter filter;
  if (const int failed = setUp(options, &filter); failed != Parsed) return failed;
  std::string error;
  const char* noColor = std::getenv("NO_COLOR");
  const ColorMode mode = options.color == "always" ? ColorMode::Always : options.color == "never" ? ColorMode::Never : ColorMode::Auto;
  std::unique_ptr<Forwarder> forwarder;
  if (!options.forward.empty()) {
    ForwardSettings forward;
    if (!forwardSettings(options, &forward, &error)) {
      notice(error + " (trovex-view --help lists the options)");
      return ExitUsage;
    }
    forwarder = std::make_unique<Forwarder>(forward, notice);
    forwarding = forwarder.get();
  }
  const OutputForm form = options.quiet ? OutputForm::Quiet
                          : options.json ? OutputForm::Json
                          : colourWanted(mode, options.output.empty() && standardOutputIsTerminal(), noColor) ? OutputForm::Coloured
                                                                                   : OutputForm::Plain;
  Viewer viewer(filter, form, nullptr, forwarding);
  const bool times = !options.time.empty();
  Viewer::chooseTimeForm(options.time == "date" ? Viewer::TimeForm::DateAndTime : Viewer::TimeForm::TimeOfDay);
  viewer.showTimes(times);
  // A file's text at its start came before the viewer: no time of its own.
  viewer.setLive(options.file.empty() || options.file == "-");

  catchEndSignals();
  if (!options.output.empty()) catchReopenSignal();
  int status = ExitOk;
  Stats counts;
  if (!options.listen.empty()) {
    const ListenSources sources = options.source == "pipe"              ? ListenSources::Pipe
                                  : options.source == DebugOutputSource ? ListenSources::DebugOutput
                                                                        : ListenSources::All;
    status = listenLive(options.listen, sources, filter, form, times, &counts, forwarding) ? ExitOk : ExitSourceFailed;
  } else if (!options.serial.empty()) {
    std::unique_ptr<ByteSource> port = openSerialPort(options.serial, &error);
    if (!port) {
      notice("cannot open serial port " + options.serial + ": " + error);
      return ExitSourceFailed;
    }
    status = viewSource(port.get(), options.serial, &viewer);
  } else if (options.file == "-") {
    status = viewSource(openStandardInput().get(), "standard input", &viewer);
  } else {
    status = viewFile(options, &viewer);
  }
  viewer.finish();
  flush(&viewer);
  endForwarding(&forwarder, options.forward, &counts);
  counts.add(viewer.stats());
  if (options.stats) {
    // An output that has ended (nobody reads it) does not lose the table:
    // it goes to standard error instead.
    const std::string table = counts.table();
    std::string shown = table;
    if (!show(&shown)) {
      notice("standard output takes nothing more; the counts:");
      std::fputs(inShownEncoding(table).c_str(), stderr);
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // Bytes go out as they came in; the file's own line ends are kept.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  Options options;
  const int parsed = parseOptions(argc, argv, &options);
  return parsed == Parsed ? run(options) : parsed;
}
