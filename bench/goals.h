// The benchmark program's pairs: each workload file registers the pairs it
// measures (ours against a peer, both run in the same process) with the goal
// the ratio should meet. main.cpp runs every benchmark, then prints the
// table of ratios and, on request, writes it as JSON.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace trovex {

// How a pair's ratio is taken from the two times per iteration.
enum class RatioKind {
  Time,        // ours / peer of the CPU time per iteration: lower is better
  Wall,        // ours / peer of the real time per iteration, where the peer is another process
  Throughput,  // peer / ours of the real time per item, so ours / peer of throughput: higher is better
  Reported,    // ours / peer of times another program measured and reported (as manual times)
  Count,       // ours alone: the benchmark's counter named by `counter`, at most `limit` (0 included;
               // negative: no goal, shown for information); no peer
};

struct Goal {
  std::string title;  // what the row measures
  std::string ours;   // benchmark name of our side
  std::string peer;   // benchmark name of the peer side
  RatioKind kind;
  double limit;       // Time: at most this; Throughput: at least this; 0: no goal, shown for information
  std::string counter = "";  // Count: the counter of `ours` that the row shows
};

// Registers a pair at static initialisation; returns true so that a file can
// write `const bool registered = addGoal(...)`.
bool addGoal(const Goal& goal);
const std::vector<Goal>& goals();

// A console reporter that keeps each benchmark's time per iteration: of a
// single run, or the median of repeated runs.
class TimeKeeper : public benchmark::ConsoleReporter {
 public:
  TimeKeeper();
  void ReportRuns(const std::vector<Run>& runs) override;

  std::map<std::string, double> realTimes, cpuTimes;  // nanoseconds per iteration, by benchmark name
  std::map<std::string, double> counters;             // by benchmark name, "/", counter name
};

}  // namespace trovex
