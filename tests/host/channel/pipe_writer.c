/* A host of the listener's test: ROUNDS rounds of COUNT messages through the
   debug channel (configured from outside), each naming its process, round
   and place, then one longer than the channel writes at once, and one of
   3,000 bytes in 30 lines with a Windows-1252 "\xe4". Before each round
   after the first it waits for the file GO.ROUND to appear.

     pipe_writer ROUNDS COUNT GO */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <trovex.h>

#if defined(_WIN32)
#include <windows.h>
static unsigned processId(void) { return (unsigned)GetCurrentProcessId(); }
static void waitAWhile(void) { Sleep(20); }
#else
#include <time.h>
#include <unistd.h>
static unsigned processId(void) { return (unsigned)getpid(); }
static void waitAWhile(void) {
  struct timespec step = {0, 20000000};
  nanosleep(&step, NULL);
}
#endif

static int exists(const char* name) {
  FILE* file = fopen(name, "rb");
  if (file) fclose(file);
  return file != NULL;
}

int main(int argc, char** argv) {
  static char longText[3001];
  static char lines[3001]; /* 30 lines of 100 bytes, newlines included */
  char go[1024];
  int rounds, count, round, i, waited;
  if (argc != 4) {
    fprintf(stderr, "usage: pipe_writer ROUNDS COUNT GO\n");
    return 2;
  }
  rounds = atoi(argv[1]);
  count = atoi(argv[2]);
  memset(longText, 'L', sizeof longText - 1);
  for (i = 0; i < 30; ++i) snprintf(lines + i * 100, 101, "%02d M\xe4r %-92d\n", i, i);
  for (round = 0; round < rounds; ++round) {
    snprintf(go, sizeof go, "%s.%d", argv[3], round);
    for (waited = 0; round > 0 && !exists(go); ++waited) {
      if (waited == 3000) return 3; /* a minute */
      waitAWhile();
    }
    for (i = 0; i < count; ++i) Trovex_Printf("w", "W", "pid=%u round=%d seq=%d\n", processId(), round, i);
    Trovex_Printf("e", "LONG", "pid=%u round=%d %s\n", processId(), round, longText);
    Trovex_Printf("i", "LINES", "pid=%u round=%d of lines:\n%s", processId(), round, lines);
  }
#if defined(_WIN32)
  /* On Windows the listener finds the program's name by the process, which
     it must look at before the process has ended: this one stays a moment.
     Elsewhere the pipe's client says the name, and the host may end at once. */
  for (waited = 0; waited < 10; ++waited) waitAWhile();
#endif
  return 0;
}
