// A console reporter that keeps the time per iteration of every benchmark,
// so that a program can print the ratio of two of them at its end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

// Keeps the time per iteration of every benchmark for the closing ratio.
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
  std::map<std::string, double> realTimes, cpuTimes;
};
