// The real DLL under Wine: the Windows build's trovex_wine_bench.exe times a
// keep-open message against msvcrt's fprintf of the same line, and a
// close-after message against msvcrt's fopen, fprintf and fclose, timed
// inside the Wine process. The row runs when TROVEX_WINE_BENCH names that
// program (with WINEPREFIX set to the Windows build's prefix):
//
//   export WINEPREFIX=$PWD/build/windows/wineprefix
//   TROVEX_WINE_BENCH=build/windows/bin/trovex_wine_bench.exe build/native/bin/trovex_bench
#include <cstdio>
#include <cstdlib>
#include <string>

#include "goals.h"

namespace trovex {

namespace {

// Times per line, in the order the program prints them.
enum WineSide { KeepOpen, Fprintf, CloseAfter, FopenPerLine, WineSides };

struct WineTimes {
  bool measured;
  double ns[WineSides];
};

// Runs the Windows program once per process; later calls reuse its figures.
const WineTimes& wineTimes() {
  static const WineTimes times = [] {
    WineTimes result{false, {}};
    const char* program = std::getenv("TROVEX_WINE_BENCH");
    if (!program) return result;
    const std::string command = "WINEDEBUG=-all wine '" + std::string(program) + "' 2>/dev/null";
    FILE* output = popen(command.c_str(), "r");
    if (!output) return result;
    double* ns = result.ns;
    result.measured = std::fscanf(output, "%lf %lf %lf %lf", &ns[0], &ns[1], &ns[2], &ns[3]) == WineSides;
    result.measured = pclose(output) == 0 && result.measured;
    return result;
  }();
  return times;
}

template <WineSide side>
void WineLine(benchmark::State& state) {
  const WineTimes& times = wineTimes();
  if (!times.measured) {
    state.SkipWithError("TROVEX_WINE_BENCH does not name a Windows build's trovex_wine_bench.exe that runs");
    return;
  }
  for (auto _ : state) state.SetIterationTime(times.ns[side] * 1e-9);
}
BENCHMARK(WineLine<KeepOpen>)->Name("WineKeepOpenMessage")->Iterations(1)->UseManualTime();
BENCHMARK(WineLine<Fprintf>)->Name("WineMsvcrtFprintf")->Iterations(1)->UseManualTime();
BENCHMARK(WineLine<CloseAfter>)->Name("WineCloseAfterMessage")->Iterations(1)->UseManualTime();
BENCHMARK(WineLine<FopenPerLine>)->Name("WineMsvcrtFopenPerLine")->Iterations(1)->UseManualTime();

// The library names a run with its iteration count and manual timing.
#define WINE_RUN(name) name "/iterations:1/manual_time"
const bool registered = addGoal({"real DLL under Wine: keep-open message / msvcrt fprintf", WINE_RUN("WineKeepOpenMessage"),
                                 WINE_RUN("WineMsvcrtFprintf"), RatioKind::Reported, 0.1}) &&
                        addGoal({"real DLL under Wine: close-after message / msvcrt fopen, fprintf, fclose",
                                 WINE_RUN("WineCloseAfterMessage"), WINE_RUN("WineMsvcrtFopenPerLine"),
                                 RatioKind::Reported, 0.9});

}  // namespace

}  // namespace trovex
