/* A host of the sharing test: COUNT messages, each naming its process and
   place, into the debug channel (configured from outside) and the protocol
   file NAME opened with MODE, kept open between messages (KEEP 1) or closed
   after each (KEEP 0).

     share_writer COUNT NAME MODE KEEP */
#include <stdio.h>
#include <stdlib.h>

#include <trovex.h>

#if defined(_WIN32)
#include <windows.h>
static unsigned processId(void) { return (unsigned)GetCurrentProcessId(); }
#else
#include <unistd.h>
static unsigned processId(void) { return (unsigned)getpid(); }
#endif

int main(int argc, char** argv) {
  int count, keep, i;
  if (argc != 5) {
    fprintf(stderr, "usage: share_writer COUNT NAME MODE KEEP\n");
    return 2;
  }
  count = atoi(argv[1]);
  keep = atoi(argv[4]);
  Trovex_Filename_s(argv[2]);
  Trovex_FileOpenMode_s(argv[3]);
  for (i = 0; i < count; ++i) {
    if (keep) Trovex_CPrintf("w", "S", "pid=%u seq=%d of %d\n", processId(), i, count);
    else Trovex_Printf("w", "S", "pid=%u seq=%d of %d\n", processId(), i, count);
  }
  return 0;
}
