/* A host of the installed package: one message through the callback. It uses
   nothing of the C library, so that it also links with no runtime at all (the
   MSVC-style link of the package test). */
#include <trovex.h>

#ifdef TROVEX_HOST_NAMES
int hostNamesIntact(void); /* made by the package test: the library's inner names, the host's own */
#else
#define hostNamesIntact() 1
#endif

static char received[64];
static int used;

static void TROVEX_CALL collect(const char* label, const char* id, const char* data, int length) {
  int i;
  (void)label;
  (void)id;
  for (i = 0; data && i < length && used < (int)sizeof received - 1; ++i) received[used++] = data[i];
}

int main(void) {
  static const char expected[] = "installed 14\n";
  int i;
  Trovex_EnableOutput_ii(1, 0); /* no debug channel: the test reads nothing there */
  Trovex_Func_i(collect);
  Trovex_Printf("w", "PKG", "%s %d\n", "installed", 14);
  for (i = 0; expected[i]; ++i)
    if (received[i] != expected[i]) return 2;
  return Trovex_Info_i(2) == 9 && received[i] == 0 && hostNamesIntact() ? 0 : 1;
}
