/* The public header must compile as strict C89 and its wrappers must work
   from C. Built as part of the tests; the host test calls this function. */
#include <stddef.h>

#include "trovex.h"

int trovexHeaderFromC89(void) {
  int result = Trovex_Printf("i", "C89", "from C89 %s", "code");
  return result + Trovex_CPrintf(NULL, NULL, "");
}
