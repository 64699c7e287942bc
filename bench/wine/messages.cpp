// The real DLL under Wine, in one process, the protocol file the only
// destination: a keep-open message against msvcrt's fprintf of the same line
// into a FILE* held open, and a close-after message against msvcrt's fopen,
// fprintf and fclose per line. Prints "keep_ns fprintf_ns close_ns fopen_ns",
// the time per line of each (the median of five rounds); the native
// benchmark program runs it and takes the ratios.
// Wall time from the performance counter: Wine's process times count in
// scheduler ticks, too coarse for a round.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "trovex.h"

namespace {

constexpr int Lines = 100000;
constexpr int ClosedLines = 5000;  // a file opened and closed per line costs about 100 times more
constexpr int Rounds = 5;
const char Format[] = "host %s unreachable, retry %d of %d\n";

double nowNanoseconds() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) * 1e9 / static_cast<double>(frequency.QuadPart);
}

template <typename Emit>
double perLine(int lines, Emit emit) {
  double rounds[Rounds];
  for (double& round : rounds) {
    const double start = nowNanoseconds();
    for (int i = 0; i < lines; ++i) emit(i);
    round = (nowNanoseconds() - start) / lines;
  }
  std::sort(rounds, rounds + Rounds);
  return rounds[Rounds / 2];
}

template <typename Function>
Function msvcrtFunction(HMODULE msvcrt, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(msvcrt, name)));
}

}  // namespace

int main() {
  char directory[MAX_PATH];
  if (!GetTempPathA(sizeof directory, directory)) return 1;
  const std::string ours = std::string(directory) + "trovex-wine-bench.txt";
  const std::string peer = std::string(directory) + "trovex-wine-bench-peer.txt";
  DeleteFileA(ours.c_str());
  DeleteFileA(peer.c_str());

  Trovex_EnableOutput_ii(1, 0);  // the protocol file is the only destination
  Trovex_FileOpenMode_s("a");
  Trovex_Filename_s(ours.c_str());
  const double keepNs = perLine(Lines, [](int i) { Trovex_CPrintf("w", "NET", Format, "example.org", i, 1000000); });
  Trovex_Printf(nullptr, nullptr, "");  // closes the file
  const double closeNs = perLine(ClosedLines, [](int i) { Trovex_Printf("w", "NET", Format, "example.org", i, 1000000); });

  // msvcrt's own functions: the C++ runtime's stdio may be another implementation.
  HMODULE msvcrt = LoadLibraryA("msvcrt.dll");
  auto openFile = msvcrtFunction<void* (*)(const char*, const char*)>(msvcrt, "fopen");
  auto printFile = msvcrtFunction<int (*)(void*, const char*, ...)>(msvcrt, "fprintf");
  auto closeFile = msvcrtFunction<int (*)(void*)>(msvcrt, "fclose");
  if (!openFile || !printFile || !closeFile) return 1;
  const char peerFormat[] = "warn<%s>: host %s unreachable, retry %d of %d\n";
  void* file = openFile(peer.c_str(), "a");
  if (!file) return 1;
  const double fprintfNs =
      perLine(Lines, [&](int i) { printFile(file, peerFormat, "NET", "example.org", i, 1000000); });
  closeFile(file);
  bool opened = true;
  const double fopenNs = perLine(ClosedLines, [&](int i) {
    void* perLineFile = openFile(peer.c_str(), "a");
    if (!perLineFile) {
      opened = false;
      return;
    }
    printFile(perLineFile, peerFormat, "NET", "example.org", i, 1000000);
    closeFile(perLineFile);
  });
  if (!opened) return 1;

  DeleteFileA(ours.c_str());
  DeleteFileA(peer.c_str());
  std::printf("%.1f %.1f %.1f %.1f\n", keepNs, fprintfNs, closeNs, fopenNs);
  return 0;
}
