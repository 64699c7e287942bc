// A host whose main returns while its other threads still emit: keep-open
// and close-after messages into the protocol file, the callback and the
// debug channel. The library's unload runs beside them and must not touch
// anything it has freed. The test runs this program again and again; a
// sanitizer's report or a crash fails it.
#include <atomic>
#include <cstdlib>
#include <thread>

#include "trovex.h"

namespace {

std::atomic<long> messages{0};

void TROVEX_CALL countCalls(const char*, const char*, const char* data, int) {
  if (data) ++messages;
}

void emitForever(bool keepOpen) {
  for (long i = 0;; ++i) {
    if (keepOpen) Trovex_CPrintf("w", "KEEP", "kept open %ld\n", i);
    else Trovex_Printf("e", "CLOSE", "closed %ld\n", i);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Trovex_Filename_s(argc > 1 ? argv[1] : "exit-while-emitting.txt");
  Trovex_Func_i(countCalls);
  Trovex_EnableOutput_ii(1, 0);  // standard error would fill the test log
  for (int t = 0; t < 4; ++t) std::thread(emitForever, t % 2 == 0).detach();
  // Returns once the threads are well under way, at a point that varies.
  const long until = 50 + std::rand() % 200;
  while (messages < until) std::this_thread::yield();
  return 0;
}
