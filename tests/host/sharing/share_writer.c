/* A host of the sharing test: COUNT messages, each naming the host by TAG
   and its place, into the debug channel (configured from outside) and the
   protocol file NAME opened with MODE, kept open between messages (KEEP 1)
   or closed after each (KEEP 0). A tag, not the process id: Wine gives an
   ended process's id to the next one at once.

     share_writer COUNT NAME MODE KEEP TAG */
#include <stdio.h>
#include <stdlib.h>

#include <trovex.h>

int main(int argc, char** argv) {
  int count, keep, i;
  if (argc != 6) {
    fprintf(stderr, "usage: share_writer COUNT NAME MODE KEEP TAG\n");
    return 2;
  }
  count = atoi(argv[1]);
  keep = atoi(argv[4]);
  Trovex_Filename_s(argv[2]);
  Trovex_FileOpenMode_s(argv[3]);
  for (i = 0; i < count; ++i) {
    if (keep) Trovex_CPrintf("w", "S", "host=%s seq=%d of %d\n", argv[5], i, count);
    else Trovex_Printf("w", "S", "host=%s seq=%d of %d\n", argv[5], i, count);
  }
  return 0;
}
