#include <trovex.h>

int main(void) { return Trovex_Info_i(2) == 9 ? 0 : 1; }
