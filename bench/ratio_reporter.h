// A console reporter that also keeps every benchmark's time per iteration, so
// that a benchmark program can end with the ratios of its pairs.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      // One run, or the median of repeated runs.
      if (!run.error_occurred && (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")) {
        realTimes[run.run_name.function_name] = run.GetAdjustedRealTime();
        cpuTimes[run.run_name.function_name] = run.GetAdjustedCPUTime();
      }
    ConsoleReporter::ReportRuns(runs);
  }

  // Prints ours / peer per `unit` when both ran. On a shared machine the CPU
  // time is the steadier of the two.
  void printRatio(const std::string& ours, const std::string& peer, const char* unit) {
    if (cpuTimes.count(ours) && cpuTimes.count(peer))
      std::printf("%s / %s per %s: %.2f (CPU time), %.2f (real time)\n", ours.c_str(), peer.c_str(), unit,
                  cpuTimes[ours] / cpuTimes[peer], realTimes[ours] / realTimes[peer]);
  }

  std::map<std::string, double> realTimes, cpuTimes;
};

// Runs the benchmarks that the command line selects, reporting through
// *reporter. False when the command line holds an unknown argument.
inline bool runBenchmarks(int argc, char** argv, RatioReporter* reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks(reporter);
  benchmark::Shutdown();
  return true;
}
