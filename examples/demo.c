/* A tour of trovex from a host's point of view: register a callback, emit
   messages of each category and print what the callback received. Plain C,
   using nothing but the public header. The debug channel writes the same
   messages to standard error, or to a file when configured so (docs/channel.md):
   scripts/demo.sh shows both, and the protocol file the demo names. */
#include <stdio.h>
#include <string.h>

#include <trovex.h>

static void TROVEX_CALL receive(const char* label, const char* id, const char* data, int length) {
  if (label || id) {
    printf("[callback] header: label=%s id=%s\n", label ? label : "(none)", id ? id : "(none)");
  } else if (data) {
    printf("[callback] %d bytes: ", length);
    fwrite(data, 1, (size_t)length, stdout);
    if (length > 0 && data[length - 1] != '\n') putchar('\n');
  } else {
    printf("[callback] end of message\n");
  }
}

int main(void) {
  char name[256];
  static const unsigned char bytes[20] = {0x54, 0x72, 0x6f, 0x76, 0x65, 0x78, 0x00, 0x01,
                                          0x02, 0x03, 0x7f, 0x80, 0xff, 0x20, 0x41, 0x42,
                                          0x10, 0x11, 0x12, 0x13};

  printf("trovex demo: library info %d.%d\n", Trovex_Info_i(1), Trovex_Info_i(2));
  Trovex_Func_i(receive);
  /* The protocol file: created in the current directory (or the temporary
     one) by the first message, appended to by the later ones. */
  Trovex_Filename_s("demo-protocol.txt");

  Trovex_Printf("i", "DEMO", "starting with %s\n", "defaults");
  Trovex_Printf("w", "NET", "host %#s unreachable, retry %c\n", "example.org", 'A');
  Trovex_Printf("e", "IO", "escaped text: %S\n", "tab\there \"quoted\"\n");
  Trovex_Printf("ew", "MEM", "dump:\n%.20P\n", bytes);
  Trovex_Printf(NULL, NULL, "a message without category or identifier\n");

  printf("switching warnings off (previous state %d)\n", Trovex_WarnState_i(0));
  Trovex_Printf("w", "NET", "this warning is stopped by the filter\n");
  Trovex_WarnState_i(1);

  if (Trovex_ReadFilename_sii(name, (int)sizeof name, 1))
    printf("protocol file: %s\n", name);

  /* The library's own texts: a time stamp that the next message continues,
     and the report on the machine, on every destination. */
  Trovex_PrintTime_sss("i", "DEMO", NULL);
  Trovex_Printf("i", "DEMO", " is the time stamp\n");
  Trovex_PrintSystemInfo();

  Trovex_Func_i(NULL);
  printf("demo finished\n");
  return 0;
}
