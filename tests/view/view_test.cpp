// The viewer's core: headers, lines of any length, continuation lines,
// colours and escape sequences, and the counts of --stats.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>

#include "common/texts.h"
#include "record/encoding.h"
#include "listen/listen.h"
#include "record/view.h"

namespace {

TEST(Header, LabelIdentifierOrPlainText) {
  const struct {
    const char* line;
    Category category;
    const char* id;
  } rows[] = {
      {"error<IO>: failed", Category::Error, "IO"},
      {"warn<NET>: ", Category::Warn, "NET"},
      {"init<>: empty identifier", Category::Init, ""},
      {"<ID>: no category letter", Category::None, "ID"},
      {"warn<a>b>: x>: y", Category::Warn, "a>b"},  // the identifier ends at the first ">: "
      {"warn<a;b [c]>: x", Category::Warn, "a;b [c]"},
      {"warning<X>: x", Category::Plain, ""},        // not a label of the library
      {"Error<X>: x", Category::Plain, ""},
      {"warn<X> x", Category::Plain, ""},
      {"warn<X>:", Category::Plain, ""},
      {" warn<X>: indented", Category::Plain, ""},
      {"", Category::Plain, ""},
  };
  for (const auto& row : rows) {
    const ParsedLine parsed = parseLine(row.line);
    EXPECT_EQ(parsed.category, row.category) << row.line;
    EXPECT_EQ(parsed.id, row.id) << row.line;
    EXPECT_EQ(parsed.text, row.line);
  }
  EXPECT_TRUE(parseLine("--- Trunced at Montag 01-Jan-2024 10:00:00 ---").truncationMarker);
  EXPECT_FALSE(parseLine("--- Trunced at").truncationMarker);
  EXPECT_TRUE(parseLine("--- 12 messages lost: the reader was busy ---").lossNotice);
  for (const char* other : {"--- messages lost: the reader was busy ---", "--- 1x messages lost: the reader was busy ---",
                            "--- 12 messages lost: the reader was busy --- and more", "--- 12 messages lost"})
    EXPECT_FALSE(parseLine(other).lossNotice) << other;
}

// Runs text through a viewer fed in pieces of `step` bytes.
std::string view(const std::string& text, const FilterSettings& settings = {}, bool colour = false,
                 size_t step = 7, Stats* stats = nullptr, OutputForm form = OutputForm::Plain) {
  ViewFilter filter;
  std::string error;
  EXPECT_TRUE(filter.configure(settings, &error)) << error;
  Viewer viewer(filter, colour ? OutputForm::Coloured : form);
  for (size_t at = 0; at < text.size(); at += step) viewer.feed(text.data() + at, std::min(step, text.size() - at));
  viewer.finish();
  if (stats) *stats = viewer.stats();
  return viewer.output();
}

TEST(Viewer, LinesWithoutAHeaderGoWithTheMessageAbove) {
  const std::string text =
      "report before any message\n"
      "warn<MEM>: dump:\n00 01 02\n"
      "init<NET>: up\nsecond line\n"
      "--- Trunced at x ---\n\nafter the marker\n";
  FilterSettings noWarnings;
  noWarnings.warnings = false;
  EXPECT_EQ(view(text, noWarnings),
            "report before any message\ninit<NET>: up\nsecond line\n--- Trunced at x ---\n\nafter the marker\n");
  FilterSettings onlyMem;
  onlyMem.include = "m?m";
  EXPECT_EQ(view(text, onlyMem),
            "report before any message\nwarn<MEM>: dump:\n00 01 02\n--- Trunced at x ---\n\nafter the marker\n");
  // A new run read from its start: its lines before a message stand alone,
  // though the last message of the run before was hidden.
  ViewFilter filter;
  std::string error;
  ASSERT_TRUE(filter.configure(noWarnings, &error));
  Viewer viewer(filter, OutputForm::Coloured);
  const std::string old = "warn<MEM>: hidden\n", next = "banner\n";
  viewer.feed(old.data(), old.size());
  viewer.finish();
  viewer.feed(next.data(), next.size());
  EXPECT_EQ(viewer.output(), "banner\n") << "shown, and not in the hidden message's colour";
  // The channel's notice of lost messages is no line of the hidden message
  // before it, and in records a text of its own.
  const std::string notice = "--- 3 messages lost: the reader was busy ---\n";
  EXPECT_EQ(view("warn<MEM>: hidden\n" + notice, noWarnings), notice);
  EXPECT_EQ(view("warn<MEM>: shown\n" + notice, {}, false, 7, nullptr, OutputForm::Json),
            "{\"category\":\"warn\",\"id\":\"MEM\",\"text\":\"shown\"}\n"
            "{\"text\":\"--- 3 messages lost: the reader was busy ---\"}\n");
}

TEST(Viewer, ColourByCategoryAndEscapeSequencesOnlyWhenColouring) {
  const std::string text = "error<A>: \x1b[1mbold\x1b[0m\nmore\nwarn<B>: w\ninit<C>: i\nplain\x1b[31\n";
  EXPECT_EQ(view(text, {}, true),
            "\x1b[31merror<A>: \x1b[1mbold\x1b[0m\x1b[0m\n\x1b[31mmore\x1b[0m\n"
            "\x1b[33mwarn<B>: w\x1b[0m\n\x1b[36minit<C>: i\x1b[0m\n\x1b[36mplain\x1b[31\x1b[0m\n");
  // Without colour they are kept out as the debug channel keeps them from a
  // file, but an unended one stops at the end of its line.
  EXPECT_EQ(view(text, {}, false), "error<A>: bold\nmore\nwarn<B>: w\ninit<C>: i\nplain\n");
}

// A console that takes no escape sequences gets the text in pieces, each
// with the colour the sequences before it chose; no sequence is shown.
TEST(Viewer, ColouredTextAsAConsoleTakesIt) {
  const struct {
    const char* text;
    const char* pieces;  // each "text/foreground/bright;"
  } rows[] = {
      {"plain", "plain/-1/0;"},
      {"\x1b[33mwarn<A>: w\x1b[0m\n", "warn<A>: w/3/0;\n/-1/0;"},
      {"\x1b[31merror<A>: \x1b[1mbold\x1b[22m thin\x1b[39m own\x1b[m", "error<A>: /1/0;bold/1/1; thin/1/0; own/-1/0;"},
      {"\x1b[1;36mx\x1b[0;37my", "x/6/1;y/7/0;"},
      {"a\x1b[?25lb\x1b[2Kc\x1b" "d", "a/-1/0;b/-1/0;c/-1/0;d/-1/0;"},
      {"a\x1b[31\x1b[32mb", "a/-1/0;b/2/0;"},
      {"a\x1b[31", "a/-1/0;"},
      {"\x1b[38;5;200mx\x1b[99999999999mz", "x/-1/0;z/-1/0;"},
      {"", ""},
  };
  for (const auto& row : rows) {
    std::string pieces;
    ConsoleColour colour;
    splitColouredText(row.text, &colour, [&](std::string_view piece, ConsoleColour chosen) {
      pieces.append(piece).append("/" + std::to_string(chosen.foreground) + "/" + (chosen.bright ? "1;" : "0;"));
    });
    EXPECT_EQ(pieces, row.pieces) << row.text;
  }
  // A colour chosen at the end of one write goes on in the next.
  ConsoleColour colour;
  splitColouredText("\x1b[35m", &colour, [](std::string_view, ConsoleColour) {});
  std::string next;
  splitColouredText("on", &colour, [&](std::string_view piece, ConsoleColour chosen) {
    next.append(piece).append(std::to_string(chosen.foreground));
  });
  EXPECT_EQ(next, "on5");
}

TEST(Viewer, ColourChoice) {
  const struct {
    ColorMode mode;
    bool terminal;
    const char* noColor;
    bool colour;
  } rows[] = {
      {ColorMode::Auto, true, nullptr, true},    {ColorMode::Auto, false, nullptr, false},
      {ColorMode::Auto, true, "1", false},       {ColorMode::Auto, true, "", true},
      {ColorMode::Always, false, "1", true},     {ColorMode::Never, true, nullptr, false},
  };
  for (const auto& row : rows) EXPECT_EQ(colourWanted(row.mode, row.terminal, row.noColor), row.colour);
}

TEST(Viewer, LongLinesAndGarbageLoseNothing) {
  // A line of 1 MB comes out whole; a longer one in pieces of the limit,
  // every byte in place; bytes of any value pass as they are.
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 131) & 0xFF));
  garbage.erase(std::remove(garbage.begin(), garbage.end(), '\x1b'), garbage.end());
  const std::string megabyte = "warn<BIG>: " + std::string(1000000, 'x') + "\n";
  const std::string longer = std::string(3 * LineSplitter::MaxLineBytes + 5, 'y');
  for (const std::string& text : {megabyte, longer, garbage, megabyte + longer + "\n" + garbage}) {
    std::string expected = text;
    if (expected.back() != '\n') expected.push_back('\n');
    EXPECT_TRUE(view(text, {}, false, 65536) == expected) << text.size();
  }
  // A long line of a hidden message stays hidden to its end.
  FilterSettings noWarnings;
  noWarnings.warnings = false;
  EXPECT_EQ(view(megabyte + longer + "\ninit<A>: a\n", noWarnings, false, 65536), "init<A>: a\n");
}

TEST(Viewer, StatsCountWhatWasShown) {
  Stats stats;
  FilterSettings settings;
  settings.exclude = "x*";
  view("error<A>: 1\nwarn<B>: 2\nwarn<B>: 3\ncontinued\nwarn<XY>: hidden\ninit<>: 4\nplain\n", settings, false, 3,
       &stats);
  EXPECT_EQ(stats.byCategory[static_cast<int>(Category::Error)], 1u);
  EXPECT_EQ(stats.byCategory[static_cast<int>(Category::Warn)], 2u);
  EXPECT_EQ(stats.byCategory[static_cast<int>(Category::Init)], 1u);
  EXPECT_EQ(stats.byCategory[static_cast<int>(Category::Plain)], 2u);
  EXPECT_EQ(stats.hiddenMessages, 1u);
  const std::string table = stats.table();
  EXPECT_LT(table.find("2  B\n"), table.find("1  A\n")) << "most frequent first\n" << table;
  EXPECT_NE(table.find("1  (empty)\n"), std::string::npos) << table;
  EXPECT_NE(table.find("\nmessages hidden by the filter: 1\n"), std::string::npos) << "not a row\n" << table;
  EXPECT_EQ(table.find("dropped"), std::string::npos) << "no drops, no rows of them\n" << table;
  // Each queue's drops under a name of their own, added up across viewers.
  Stats drops;
  drops.dropped = 1;
  drops.forwardDropped = 2;
  drops.collectorDropped = 3;
  drops.unsent = 4;
  stats.add(drops);
  stats.add(drops);
  const std::string summed = stats.table();
  EXPECT_NE(summed.find("1\nmessages dropped while the output was slow: 2\n"
                        "messages dropped while forwarding fell behind: 4\n"
                        "records dropped while the collector was away or slow: 6\n"
                        "records still queued for the collector at the end: 8\n"),
            std::string::npos)
      << summed;
}

TEST(Viewer, JsonOneRecordPerMessageWithItsLinesJoined) {
  const struct {
    const char* name;
    std::string text;
    const char* records;
  } rows[] = {
      {"lines joined, CR LF ends, escapes kept out, blank lines between records dropped",
       "\nwarn<NET>: retry\r\n  \x1b[1mdump\x1b[0m\n\n  end\ninit<>: i\n",
       "{\"category\":\"warn\",\"id\":\"NET\",\"text\":\"retry\\n  dump\\n\\n  end\"}\n"
       "{\"category\":\"init\",\"id\":\"\",\"text\":\"i\"}\n"},
      {"JSON escapes, Windows-1252 as UTF-8",
       "warn<M\xe4rz>: \"a\\b\"\t\f\x01\x80\n",
       "{\"category\":\"warn\",\"id\":\"M\xc3\xa4rz\",\"text\":\"\\\"a\\\\b\\\"\\t\\u000c\\u0001\xe2\x82\xac\"}\n"},
      {"the header form without category letters, a message without a newline at the end",
       "<X>: x\ny", "{\"category\":\"\",\"id\":\"X\",\"text\":\"x\\ny\"}\n"},
      {"text before any message, a cut's marker, text after it",
       "report\n--- Trunced at Mo 01-M\xe4r ---\n\nold\nwarn<A>: a\n",
       "{\"text\":\"report\"}\n{\"event\":\"cut\",\"marker\":\"--- Trunced at Mo 01-M\xc3\xa4r ---\"}\n"
       "{\"text\":\"old\"}\n{\"category\":\"warn\",\"id\":\"A\",\"text\":\"a\"}\n"},
      {"a blank line before the next header, or at the end, is no part of the message's text",
       "\ninit<A>: one\n\nwarn<B>: two\n\n  three\r\n\r\n\n",
       "{\"category\":\"init\",\"id\":\"A\",\"text\":\"one\"}\n"
       "{\"category\":\"warn\",\"id\":\"B\",\"text\":\"two\\n\\n  three\"}\n"},
      {"a hidden message's lines stay hidden, never joined to the message before",
       "warn<A>: a\nerror<X>: hidden\n  its dump\ninit<B>: b\n",
       "{\"category\":\"warn\",\"id\":\"A\",\"text\":\"a\"}\n{\"category\":\"init\",\"id\":\"B\",\"text\":\"b\"}\n"},
  };
  FilterSettings noErrors;
  noErrors.errors = false;
  for (const auto& row : rows)
    for (size_t step : {size_t{1}, size_t{1000}})
      EXPECT_EQ(view(row.text, noErrors, false, step, nullptr, OutputForm::Json), row.records) << row.name;
}

TEST(Viewer, JsonRecordWrittenWhenTheSourceWaitsAndItsMessageGoesOn) {
  ViewFilter filter;
  std::string error;
  ASSERT_TRUE(filter.configure({}, &error));
  Viewer viewer(filter, OutputForm::Json);
  const std::string first = "warn<A>: a\n  one\n", later = "  two\n", run = "init<B>: b\n";
  viewer.feed(first.data(), first.size());
  EXPECT_EQ(viewer.output(), "") << "the message may go on";
  viewer.idle();
  viewer.feed(later.data(), later.size());
  viewer.note(SourceEvent::Restart);
  viewer.feed(run.data(), run.size());
  viewer.finish();
  EXPECT_EQ(viewer.output(),
            "{\"category\":\"warn\",\"id\":\"A\",\"text\":\"a\\n  one\"}\n"
            "{\"category\":\"warn\",\"id\":\"A\",\"text\":\"  two\",\"continued\":true}\n"
            "{\"event\":\"restart\"}\n{\"category\":\"init\",\"id\":\"B\",\"text\":\"b\"}\n");
  // A text longer than a record takes comes in parts, none lost.
  Viewer big(filter, OutputForm::Json);
  const std::string text = "warn<A>: " + std::string(3 * RecordAssembler::MaxTextBytes + 10, 'z') + "\n";
  big.feed(text.data(), text.size());
  big.finish();
  EXPECT_EQ(std::count(big.output().begin(), big.output().end(), 'z'), static_cast<long>(3 * RecordAssembler::MaxTextBytes + 10));
  EXPECT_NE(big.output().find("\",\"continued\":true}\n"), std::string::npos);
  // A run of blank lines within a message: a record's worth of them at most.
  Viewer blanks(filter, OutputForm::Json, nullptr, nullptr, 4);
  const std::string blankRun = "warn<A>: a" + std::string(11, '\n') + "b\n";
  blanks.feed(blankRun.data(), blankRun.size());
  blanks.finish();
  EXPECT_EQ(blanks.output(), "{\"category\":\"warn\",\"id\":\"A\",\"text\":\"a\\n\\n\\n\\n\\nb\"}\n");
}

// A writer of a pipe, among others: its pid and program before each line
// (not before the later pieces of a long one) and in each record, and a
// line or a record when it has gone.
TEST(Viewer, PipeWritersLinesAndRecordsNameIt) {
  ViewFilter filter;
  std::string error;
  ASSERT_TRUE(filter.configure({}, &error));
  const WriterTag writer{4242, "h\xf6st.exe"};
  const std::string longLine(LineSplitter::MaxLineBytes + 3, 'z');
  const std::string text = "warn<A>: a\n  dump\n" + longLine + "\n";
  Viewer plain(filter, OutputForm::Plain, &writer), json(filter, OutputForm::Json, &writer);
  for (Viewer* viewer : {&plain, &json}) {
    viewer->feed(text.data(), text.size());
    viewer->finish();
    viewer->note(SourceEvent::Gone);
  }
  EXPECT_TRUE(plain.output() == "[4242 h\xf6st.exe] warn<A>: a\n[4242 h\xf6st.exe]   dump\n[4242 h\xf6st.exe] " +
                                    longLine + "\n[4242 h\xf6st.exe] --- gone ---\n");
  const std::string fields = "{\"pid\":4242,\"process\":\"h\xc3\xb6st.exe\",";
  EXPECT_EQ(json.output().rfind(fields + "\"category\":\"warn\",\"id\":\"A\",\"text\":\"a\\n  dump\\nzzz", 0), 0u);
  EXPECT_NE(json.output().find("}\n" + fields + "\"event\":\"gone\"}\n"), std::string::npos);
  // Writers are chosen by process id and by a pattern list of program names.
  FilterSettings settings;
  settings.pids = {7, 4242};
  settings.programs = "other;H?ST.*";
  ASSERT_TRUE(filter.configure(settings, &error));
  EXPECT_TRUE(filter.writerPasses(4242, writer.program));
  EXPECT_FALSE(filter.writerPasses(8, writer.program));
  EXPECT_FALSE(filter.writerPasses(7, "hosting.exe"));
}

// What happens at the pipe, step by step, for the listener's two halves.
struct ListenStep {
  PipeEvent event;
  bool pause;  // instead: the output takes what is queued, and the writers fall idle
};
ListenStep arrives(uint64_t writer, uint32_t pid, const char* program, bool hello = false) {
  return {{PipeEvent::Kind::Connected, writer, pid, program, {}, hello}, false};
}
ListenStep sends(uint64_t writer, std::string data) { return {{PipeEvent::Kind::Data, writer, 0, {}, std::move(data)}, false}; }
ListenStep leaves(uint64_t writer) { return {{PipeEvent::Kind::Gone, writer, 0, {}, {}}, false}; }
const ListenStep Pause{{PipeEvent::Kind::Data, 0, 0, {}, {}}, true};

// Runs the steps through the reading half into a queue of queueBytes, then
// through the output half; what it shows.
// held: the writers whose state the two halves hold once the steps are
// done, before the listener ends.
std::string listenTo(const std::vector<ListenStep>& steps, size_t queueBytes = ListenQueueBytes,
                     OutputForm form = OutputForm::Plain, const FilterSettings& settings = {}, Stats* stats = nullptr,
                     size_t* held = nullptr) {
  ViewFilter filter;
  std::string error;
  EXPECT_TRUE(filter.configure(settings, &error)) << error;
  ListenQueue queue(queueBytes);
  ListenReader reader(filter, &queue);
  ListenOutput output(filter, form);
  auto now = ListenOutput::Clock::now();
  auto drain = [&] {
    std::vector<ListenQueue::Entry> entries;
    queue.take(&entries, std::chrono::milliseconds(0));
    for (ListenQueue::Entry& entry : entries) output.take(std::move(entry), now);
    queue.release();  // the output is done with them, as before its next take
  };
  for (const ListenStep& step : steps) {
    if (!step.pause) {
      reader.take(step.event);
      continue;
    }
    drain();
    now += 2 * ListenOutput::WriterIdle;
    output.idle(now);
  }
  drain();
  if (held) *held = reader.writerCount() + output.writerCount();
  reader.finish();
  drain();
  output.finish();
  if (stats) {
    *stats = output.stats();
    stats->hiddenMessages += reader.hiddenMessages();
  }
  if (form != OutputForm::Json) return output.output();
  // Every line of a writer came live: each record of text has its receipt
  // time, taken out here so that rows can show the rest.
  std::string shown;
  std::istringstream lines(output.output());
  for (std::string line; std::getline(lines, line);) {
    std::smatch time;
    const bool timed = std::regex_search(line, time, std::regex("\"time\":\"[-0-9T:.+]{29}\","));
    EXPECT_EQ(timed, line.find("\"text\":") != std::string::npos) << line;
    shown += (timed ? time.prefix().str() + time.suffix().str() : line) + "\n";
  }
  return shown;
}

TEST(Listener, EachWritersLinesWholeThenItsDeparture) {
  using namespace std::string_literals;
  const std::string longest(trovex::win32::PipeHelloMaxName, 'n');
  const std::string unended = "\0"s + longest + "n";
  const std::string megabyte(size_t{1} << 20, 'm');
  const struct {
    const char* name;
    std::vector<ListenStep> steps;
    std::string shown;
  } rows[] = {
      {"a hello names its writer, however its bytes are cut",
       {arrives(1, 7, "?", true), sends(1, "\0ho"s), sends(1, "st\0warn<A>: a\n"s)}, "[7 host] warn<A>: a\n"},
      {"a hello of the longest name names its writer",
       {arrives(1, 7, "x", true), sends(1, "\0"s + longest + "\0warn<A>: a\n"s)}, "[7 " + longest + "] warn<A>: a\n"},
      {"a hello without its end within the bound is data",
       {arrives(1, 7, "x", true), sends(1, unended + "\0\n"s)}, "[7 x] " + unended + "\0"s + "\n"},
      {"a writer gone within its hello said data", {arrives(1, 7, "x", true), sends(1, "\0ab"s), leaves(1)},
       "[7 x] \0ab\n[7 x] --- gone ---\n"s},
      {"a writer that may not say a hello sends data from its first byte",
       {arrives(1, 7, "x"), sends(1, "\0a\0\n"s)}, "[7 x] \0a\0\n"s},
      {"a line of a megabyte comes whole, in pieces", {arrives(1, 7, "x"), sends(1, megabyte + "\n")},
       "[7 x] " + megabyte + "\n"},
      {"lines of two writers, each whole, in the order they ended",
       {arrives(1, 7, "x"), arrives(2, 8, "y"), sends(1, "warn<A>: one-"), sends(2, "warn<B>: two\n"),
        sends(1, "half\n  dump\n")},
       "[8 y] warn<B>: two\n[7 x] warn<A>: one-half\n[7 x]   dump\n"},
      {"a departing writer's last words, though no newline ended them",
       {arrives(1, 7, "x"), sends(1, "warn<A>: first\nwarn<B>: last words"), leaves(1)},
       "[7 x] warn<A>: first\n[7 x] warn<B>: last words\n[7 x] --- gone ---\n"},
      {"a writer quiet for a while before it leaves is gone all the same",
       {arrives(1, 7, "x"), sends(1, "warn<A>: a\n"), Pause, leaves(1)}, "[7 x] warn<A>: a\n[7 x] --- gone ---\n"},
      {"a writer that sent nothing comes and goes unseen", {arrives(1, 7, "x"), Pause, leaves(1)}, ""},
      {"a writer's empty first line, its channel's start, is not shown; a later one is",
       {arrives(1, 7, "x"), sends(1, "\nwarn<A>: a\n\n")}, "[7 x] warn<A>: a\n[7 x] \n"},
      {"writers still there when the listener ends are not gone",
       {arrives(1, 7, "x"), sends(1, "warn<A>: a\nopen")}, "[7 x] warn<A>: a\n[7 x] open\n"},
  };
  for (const auto& row : rows) EXPECT_TRUE(listenTo(row.steps) == row.shown) << row.name;
  size_t held = 1;
  listenTo({arrives(1, 7, "x"), sends(1, "warn<A>: a\nopen"), arrives(2, 8, "y"), leaves(1), Pause, leaves(2)},
           ListenQueueBytes, OutputForm::Plain, {}, nullptr, &held);
  EXPECT_EQ(held, 0u) << "the state of writers gone is freed";
  // In records, a writer's long message goes on in parts of about a piece.
  std::istringstream records(listenTo({arrives(1, 7, "x"), sends(1, "warn<A>: " + megabyte + "\n")}, ListenQueueBytes,
                                      OutputForm::Json));
  size_t parts = 0;
  for (std::string record; std::getline(records, record); ++parts)
    EXPECT_LE(record.size(), 2 * WriterStream::MaxLineBytes + 200) << "part " << parts;
  EXPECT_GE(parts, megabyte.size() / (2 * WriterStream::MaxLineBytes));
}

// The debug output: each process a writer, each short call a line of its
// own, a full piece of a long message going on in the next call; a process
// whose name cannot be found any more stays the writer it was, and another
// program under the same id is a new one.
TEST(Listener, DebugOutputCallsBecomeLinesOfTheirProcess) {
  const std::string piece = "warn<A>: " + std::string(trovex::DebuggerPieceSize - 9, 'p');
  const std::vector<DebugOutputText> texts = {
      {5, "app.exe", "one"}, {6, "tool.exe", "other\n"}, {5, "?", piece}, {5, "app.exe", "q\n"},
      {5, "app.exe", ""},    {5, "new.exe", "two"}};
  DebugOutputWriters writers;
  std::vector<PipeEvent> events;
  for (const DebugOutputText& text : texts) writers.take(text, &events);
  std::vector<ListenStep> steps;
  for (PipeEvent& event : events) steps.push_back({std::move(event), false});
  EXPECT_EQ(listenTo(steps), "[5 app.exe] one\n[6 tool.exe] other\n[5 app.exe] " + piece +
                                 "q\n[5 app.exe] --- gone ---\n[5 new.exe] two\n");
}

// The debug output's processes have no end that the system tells: one idle
// for DebugOutputWriters::IdleTime is forgotten, its state freed in both
// halves without a departure, and its next text makes it a writer anew.
TEST(Listener, IdleDebugOutputProcessesAreForgotten) {
  DebugOutputWriters writers;
  const auto start = DebugOutputWriters::Clock::now();
  const auto idle = DebugOutputWriters::IdleTime;
  std::vector<PipeEvent> events;
  writers.take({5, "app.exe", "warn<A>: one"}, &events, start);
  writers.take({6, "tool.exe", "busy"}, &events, start);
  writers.forgetIdle(start + idle - std::chrono::milliseconds(1), &events);
  EXPECT_EQ(writers.processCount(), 2u) << "not yet idle";
  writers.take({6, "tool.exe", "still busy"}, &events, start + idle / 2);
  writers.forgetIdle(start + idle, &events);
  EXPECT_EQ(writers.processCount(), 1u) << "the one that wrote since stays";
  writers.take({5, "app.exe", "warn<A>: two"}, &events, start + idle);
  writers.forgetIdle(start + 3 * idle, &events);
  EXPECT_EQ(writers.processCount(), 0u);
  std::vector<ListenStep> steps;
  for (PipeEvent& event : events) steps.push_back({std::move(event), false});
  size_t held = 1;
  EXPECT_EQ(listenTo(steps, ListenQueueBytes, OutputForm::Plain, {}, nullptr, &held),
            "[5 app.exe] warn<A>: one\n[6 tool.exe] busy\n[6 tool.exe] still busy\n[5 app.exe] warn<A>: two\n");
  EXPECT_EQ(held, 0u);
}

// The notice that the writers reached the most the pipe serves: once as
// they reach it, not again while they come and go at it, and anew once they
// had fallen to three quarters of it.
TEST(Listener, TheCapIsToldOncePerEpisode) {
  const struct {
    const char* name;
    std::vector<size_t> writers;  // after each wait
    std::vector<bool> told;
  } rows[] = {
      {"below the cap, nothing", {0, 7, 0}, {false, false, false}},
      {"at the cap, once", {8, 8, 8}, {true, false, false}},
      {"coming and going at the cap", {8, 7, 8, 7, 8}, {true, false, false, false, false}},
      {"again after falling to three quarters", {8, 6, 8, 9}, {true, false, true, false}},
      {"not after falling short of that", {8, 7, 8}, {true, false, false}},
  };
  for (const auto& row : rows) {
    WriterCapNotice notice;
    for (size_t i = 0; i < row.writers.size(); ++i)
      EXPECT_EQ(notice.due(row.writers[i], 8), row.told[i]) << row.name << ", wait " << i;
  }
}

// A queue that is full drops whole messages (a header line and the lines
// after it), says how many where they would have been, and never leaves a
// line of the output open.
TEST(Listener, AFullQueueDropsWholeMessagesAndSaysSo) {
  const size_t oneLine = RecordOverheadBytes + 20;
  const std::string longLine(WriterStream::MaxLineBytes + 10, 'z');
  const struct {
    const char* name;
    size_t queueBytes;
    std::vector<ListenStep> steps;
    std::string shown;
    uint64_t dropped;
  } rows[] = {
      {"the rest of a dropped message goes with it, and counts with it",
       oneLine,
       {arrives(1, 7, "x"), sends(1, "warn<A>: 1\nwarn<B>: 2\n  its dump\n"), Pause, sends(1, "  more dump\nwarn<C>: 3\n")},
       "[7 x] warn<A>: 1\n--- 1 message dropped: the output was busy ---\n[7 x] warn<C>: 3\n", 1},
      {"lines outside a message count one each", oneLine,
       {arrives(1, 7, "x"), sends(1, "a\nb\nc\n")},
       "[7 x] a\n--- 2 messages dropped: the output was busy ---\n", 2},
      {"a long line whose rest is dropped is ended where it stops",
       RecordOverheadBytes + WriterStream::MaxLineBytes + 1,
       {arrives(1, 7, "x"), sends(1, longLine + "\nwarn<B>: b\n")},
       "[7 x] " + longLine.substr(0, WriterStream::MaxLineBytes) +
           "\n--- 2 messages dropped: the output was busy ---\n", 2},
      {"a host's notice of its own losses gets through though the message before it was dropped",
       RecordOverheadBytes + 60,
       {arrives(1, 7, "x"), sends(1, "warn<A>: 1\nwarn<B>: " + std::string(80, 'b') + "\n  its dump\n"), Pause,
        sends(1, "--- 4 messages lost: the reader was busy ---\n"), Pause, sends(1, "warn<C>: 3\n")},
       "[7 x] warn<A>: 1\n--- 1 message dropped: the output was busy ---\n"
       "[7 x] --- 4 messages lost: the reader was busy ---\n[7 x] warn<C>: 3\n", 1},
      {"a host's notice of its own losses that is dropped counts the messages it told of",
       oneLine,
       {arrives(1, 7, "x"), sends(1, "warn<A>: 1\n--- 4 messages lost: the reader was busy ---\nwarn<C>: 3\n")},
       "[7 x] warn<A>: 1\n--- 5 messages dropped: the output was busy ---\n", 5},
      {"a departure always gets through, after the drops",
       oneLine,
       {arrives(1, 7, "x"), arrives(2, 8, "y"), sends(1, "warn<A>: 1\n"), sends(2, "warn<B>: 2\n"), leaves(2), leaves(1)},
       "[7 x] warn<A>: 1\n--- 1 message dropped: the output was busy ---\n[7 x] --- gone ---\n", 1},
  };
  for (const auto& row : rows) {
    Stats stats;
    const std::string shown = listenTo(row.steps, row.queueBytes, OutputForm::Plain, {}, &stats);
    EXPECT_TRUE(shown == row.shown) << row.name << ":\n" << shown.size() << " " << row.shown.size() << shown.substr(shown.size() > 300 ? shown.size() - 300 : 0);
    EXPECT_EQ(stats.dropped, row.dropped) << row.name;
  }
  EXPECT_EQ(listenTo({arrives(1, 7, "x"), sends(1, "warn<A>: 1\nwarn<B>: 2\n")}, oneLine, OutputForm::Json),
            "{\"pid\":7,\"process\":\"x\",\"category\":\"warn\",\"id\":\"A\",\"text\":\"1\"}\n"
            "{\"event\":\"dropped\",\"count\":1}\n");
}

// Each output has a queue of its own: a full one drops from itself alone,
// and a writer's departure goes only where a record of it went.
TEST(Listener, EachOutputsQueueDropsItsOwn) {
  ViewFilter filter;
  std::string error;
  ASSERT_TRUE(filter.configure({}, &error)) << error;
  ListenQueue stalled(RecordOverheadBytes + 20), moving(ListenQueueBytes);
  ListenReader reader(filter, std::vector<ListenQueue*>{&stalled, &moving});
  for (const ListenStep& step : {arrives(1, 7, "x"), arrives(2, 8, "y"), sends(1, "warn<A>: 1\nwarn<B>: 2\n  dump\n"),
                                 sends(2, "warn<C>: 3\n"), leaves(2), leaves(1)})
    reader.take(step.event);
  auto shown = [&filter](ListenQueue* queue) {
    ListenOutput output(filter, OutputForm::Plain);
    std::vector<ListenQueue::Entry> entries;
    queue->close();
    while (queue->take(&entries, std::chrono::milliseconds(0))) {
      for (ListenQueue::Entry& entry : entries) output.take(std::move(entry), ListenOutput::Clock::now());
      entries.clear();
    }
    output.finish();
    return std::make_pair(output.output(), output.stats().dropped);
  };
  EXPECT_EQ(shown(&stalled),
            std::make_pair(std::string("[7 x] warn<A>: 1\n--- 2 messages dropped: the output was busy ---\n"
                                       "[7 x] --- gone ---\n"),
                           uint64_t{2}));
  EXPECT_EQ(shown(&moving), std::make_pair(std::string("[7 x] warn<A>: 1\n[7 x] warn<B>: 2\n[7 x]   dump\n"
                                                       "[8 y] warn<C>: 3\n[8 y] --- gone ---\n[7 x] --- gone ---\n"),
                                           uint64_t{0}));
}

// --pid and --process hide writers before their lines take room in the
// queue; --stats counts their messages as hidden.
TEST(Listener, HiddenWritersCostNothingAndAreCounted) {
  FilterSettings settings;
  settings.pids = {8};
  Stats stats;
  EXPECT_EQ(listenTo({arrives(1, 7, "x"), arrives(2, 8, "y"), sends(1, "warn<A>: 1\n  dump\nwarn<A>: 2\n"),
                      sends(2, "warn<B>: 3\n"), leaves(1)},
                     RecordOverheadBytes + 20, OutputForm::Plain, settings, &stats),
            "[8 y] warn<B>: 3\n");
  EXPECT_EQ(stats.hiddenMessages, 2u);
  EXPECT_EQ(stats.dropped, 0u);
  EXPECT_NE(stats.table().find("messages hidden by the filter: 2\n"), std::string::npos);
}

TEST(Encoding, Windows1252InTheReadersEncoding) {
  const struct {
    const char* name;
    const char* text;
    const char* shown;
  } rows[] = {
      {"utf-8", "M\xe4rz \x80 \x9f \xa0\xff", "M\xc3\xa4rz \xe2\x82\xac \xc5\xb8 \xc2\xa0\xc3\xbf"},
      {"UTF8", "\x81\x8d\x8f\x90\x9d", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // undefined: U+FFFD
      // Every byte from 0x80 to 0x9F, where the code page departs from Latin-1.
      {"utf-8",
       "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c\x8d\x8e\x8f"
       "\x90\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9a\x9b\x9c\x9d\x9e\x9f",
       u8"\u20AC\uFFFD\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\uFFFD\u017D\uFFFD"
       u8"\uFFFD\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\uFFFD\u017E\u0178"},
      {"utf-8", "only \x80 is high", u8"only \u20AC is high"},  // the lowest high byte alone
      {"raw", "M\xe4rz \x80\x81", "M\xe4rz \x80\x81"},
      {"Windows-1252", "\xe4", "\xe4"},
      {"utf-8", "\x1b[31mplain\r\n", "\x1b[31mplain\r\n"},
#if defined(_WIN32)
      {"cp850", "M\xe4rz", "M\x84rz"},
#else
      {"ISO-8859-15", "\x80 \xe4", "\xa4 \xe4"},
#endif
  };
  for (const auto& row : rows) {
    OutputEncoder encoder;
    std::string error, shown;
    ASSERT_TRUE(encoder.choose(row.name, &error)) << row.name << ": " << error;
    encoder.encode(row.text, &shown);
    EXPECT_EQ(shown, row.shown) << row.name;
  }
  OutputEncoder encoder;
  std::string error;
  EXPECT_FALSE(encoder.choose("no-such-encoding", &error));
  EXPECT_NE(error.find("no-such-encoding"), std::string::npos) << error;
}

TEST(Viewer, AListLongerThanTheLibraryKeepsIsRefused) {
  ViewFilter filter;
  std::string error;
  FilterSettings settings;
  settings.include = std::string(ViewFilter::MaxListLength, 'a');
  EXPECT_TRUE(filter.configure(settings, &error));
  settings.exclude = std::string(ViewFilter::MaxListLength + 1, 'a');
  EXPECT_FALSE(filter.configure(settings, &error));
  EXPECT_NE(error.find("--exclude"), std::string::npos) << error;
}

}  // namespace
