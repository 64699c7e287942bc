/* A host of the listener's test: ROUNDS rounds of COUNT messages through the
   debug channel (configured from outside), each naming its process, round
   and place, padded with PAD bytes, DELAY milliseconds apart, then one
   longer than the channel writes at once, and one of 3,000 bytes in 30 lines
   with a Windows-1252 "\xe4". Before each round after the first it waits for
   the file GO.ROUND to appear; after each it says on standard output that
   the round is written.

     pipe_writer ROUNDS COUNT GO [PAD [DELAY]] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <trovex.h>

#if defined(_WIN32)
#include <windows.h>
static unsigned processId(void) { return (unsigned)GetCurrentProcessId(); }
static void sleepFor(int milliseconds) { Sleep((DWORD)milliseconds); }
#else
#include <time.h>
#include <unistd.h>
static unsigned processId(void) { return (unsigned)getpid(); }
static void sleepFor(int milliseconds) {
  struct timespec step;
  step.tv_sec = milliseconds / 1000;
  step.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
  nanosleep(&step, NULL);
}
#endif

static int exists(const char* name) {
  FILE* file = fopen(name, "rb");
  if (file) fclose(file);
  return file != NULL;
}

int main(int argc, char** argv) {
  static char longText[3001], padding[65536];
  static char lines[3001]; /* 30 lines of 100 bytes, newlines included */
  char go[1024];
  int rounds, count, pad, delay, round, i, waited;
  if (argc < 4 || argc > 6) {
    fprintf(stderr, "usage: pipe_writer ROUNDS COUNT GO [PAD [DELAY]]\n");
    return 2;
  }
  rounds = atoi(argv[1]);
  count = atoi(argv[2]);
  pad = argc > 4 ? atoi(argv[4]) : 0;
  delay = argc > 5 ? atoi(argv[5]) : 0;
  if (pad < 0 || pad >= (int)sizeof padding) pad = 0;
  memset(longText, 'L', sizeof longText - 1);
  memset(padding, 'P', (size_t)pad);
  for (i = 0; i < 30; ++i) snprintf(lines + i * 100, 101, "%02d M\xe4r %-92d\n", i, i);
  for (round = 0; round < rounds; ++round) {
    snprintf(go, sizeof go, "%s.%d", argv[3], round);
    for (waited = 0; round > 0 && !exists(go); ++waited) {
      if (waited == 3000) return 3; /* a minute */
      sleepFor(20);
    }
    for (i = 0; i < count; ++i) {
      Trovex_Printf("w", "W", "pid=%u round=%d seq=%d%s\n", processId(), round, i, padding);
      if (delay > 0) sleepFor(delay);
    }
    Trovex_Printf("e", "LONG", "pid=%u round=%d %s\n", processId(), round, longText);
    Trovex_Printf("i", "LINES", "pid=%u round=%d of lines:\n%s", processId(), round, lines);
    printf("round %d written\n", round);
    fflush(stdout);
  }
#if defined(_WIN32)
  /* On Windows the listener finds the program's name by the process, which
     it must look at before the process has ended: this one stays a moment.
     Elsewhere the pipe's client says the name, and the host may end at once. */
  sleepFor(200);
#endif
  return 0;
}
