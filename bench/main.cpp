// The benchmark program: runs every workload beside its peer in one process,
// then prints one table of ratios and, with --json=FILE, writes it as JSON.
//
//   build/native/bin/trovex_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true --json=ratios.json
//
// Times are CPU time per iteration, the steadier measure on a shared
// machine; the thread workloads compare real time per message, since their
// point is how the threads share the wall clock. With repetitions, each
// time is the median of the runs.
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "runtime_folder.h"
#include "goals.h"

namespace trovex {

namespace {

std::vector<Goal>& goalList() {
  static std::vector<Goal> list;
  return list;
}

struct Row {
  const Goal* goal;
  double oursTime, peerTime, ratio;  // nanoseconds per iteration; the ratio as the goal takes it
  bool met;
};

std::vector<Row> tableRows(const TimeKeeper& times) {
  std::vector<Row> rows;
  for (const Goal& goal : goals()) {
    if (goal.kind == RatioKind::Count) {
      const auto count = times.counters.find(goal.ours + "/" + goal.counter);
      if (count == times.counters.end()) continue;
      rows.push_back(Row{&goal, count->second, 0, count->second, count->second <= goal.limit});
      continue;
    }
    const auto& source = goal.kind == RatioKind::Time ? times.cpuTimes : times.realTimes;
    const auto ours = source.find(goal.ours), peer = source.find(goal.peer);
    if (ours == source.end() || peer == source.end()) continue;  // not selected by --benchmark_filter
    Row row{&goal, ours->second, peer->second, 0, true};
    if (goal.kind != RatioKind::Throughput) {
      row.ratio = row.oursTime / row.peerTime;
      row.met = goal.limit == 0 || row.ratio <= goal.limit;
    } else {
      row.ratio = row.peerTime / row.oursTime;
      row.met = goal.limit == 0 || row.ratio >= goal.limit;
    }
    rows.push_back(row);
  }
  return rows;
}

// A Count row's goal may be 0; a negative limit is none.
bool hasGoal(const Goal& goal) { return goal.kind == RatioKind::Count ? goal.limit >= 0 : goal.limit != 0; }

std::string goalText(const Goal& goal) {
  if (!hasGoal(goal)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%s %.2f", goal.kind == RatioKind::Throughput ? ">=" : "<=", goal.limit);
  return text;
}

void printTable(const std::vector<Row>& rows) {
  std::printf("\n%-68s %12s %12s %7s %8s %s\n", "workload (ours / peer)", "ours ns", "peer ns", "ratio", "goal",
              "met");
  for (const Row& row : rows)
    std::printf("%-68s %12.1f %12.1f %7.2f %8s %s\n", row.goal->title.c_str(), row.oursTime, row.peerTime, row.ratio,
                goalText(*row.goal).c_str(), !hasGoal(*row.goal) ? "" : row.met ? "yes" : "NO");
  std::printf("Ratios are ours / peer: of CPU time per iteration, of real time where the peer is another\n"
              "process, of throughput for the thread rows (marked), of the times the Windows program\n"
              "measured under Wine for the Wine rows; a count row shows its count as ours and as the ratio.\n");
}

const char* measureText(RatioKind kind) {
  switch (kind) {
    case RatioKind::Time: return "cpu time, ours/peer";
    case RatioKind::Wall: return "real time, ours/peer";
    case RatioKind::Throughput: return "throughput, ours/peer";
    case RatioKind::Reported: return "time under Wine, ours/peer";
    case RatioKind::Count: return "count per message, ours";
  }
  return "";
}

// A text as a JSON string's content: quotes and backslashes escaped (titles
// hold no control characters).
std::string jsonText(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

bool writeJson(const std::vector<Row>& rows, const char* path) {
  FILE* file = std::fopen(path, "w");
  if (!file) return false;
  std::fprintf(file, "{\n  \"rows\": [\n");
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    std::fprintf(file,
                 "    {\"workload\": \"%s\", \"ours\": \"%s\", \"peer\": \"%s\", \"measure\": \"%s\", "
                 "\"ours_ns\": %.2f, \"peer_ns\": %.2f, \"ratio\": %.3f, \"goal\": \"%s\", \"met\": %s}%s\n",
                 jsonText(row.goal->title).c_str(), jsonText(row.goal->ours).c_str(), jsonText(row.goal->peer).c_str(),
                 measureText(row.goal->kind),
                 row.oursTime, row.peerTime, row.ratio, goalText(*row.goal).c_str(),
                 !hasGoal(*row.goal) ? "null" : row.met ? "true" : "false", i + 1 < rows.size() ? "," : "");
  }
  std::fprintf(file, "  ]\n}\n");
  return std::fclose(file) == 0;
}

}  // namespace

bool addGoal(const Goal& goal) {
  goalList().push_back(goal);
  return true;
}

const std::vector<Goal>& goals() { return goalList(); }

// Colours only on a terminal, so that output sent to a file stays plain.
TimeKeeper::TimeKeeper() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

void TimeKeeper::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs)
    if (!run.error_occurred && (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")) {
      realTimes[run.run_name.str()] = run.GetAdjustedRealTime();
      cpuTimes[run.run_name.str()] = run.GetAdjustedCPUTime();
      for (const auto& counter : run.counters) counters[run.run_name.str() + "/" + counter.first] = counter.second;
    }
  ConsoleReporter::ReportRuns(runs);
}

}  // namespace trovex

using namespace trovex;

int main(int argc, char** argv) {
#if !defined(_WIN32)
  const trovex::OwnRuntimeFolder runtimeFolder;
#endif
  // --json=FILE is ours; every other argument goes to the benchmark library.
  const char* jsonPath = nullptr;
  int kept = 0;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--json=", 7) == 0)
      jsonPath = argv[i] + 7;
    else
      argv[kept++] = argv[i];
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TimeKeeper times;
  benchmark::RunSpecifiedBenchmarks(&times);
  benchmark::Shutdown();
  const std::vector<Row> rows = tableRows(times);
  printTable(rows);
  if (jsonPath && !writeJson(rows, jsonPath)) {
    std::fprintf(stderr, "cannot write %s\n", jsonPath);
    return 1;
  }
  return 0;
}
