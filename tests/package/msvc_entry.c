/* Entry point of the consumer when it is linked MSVC-style with no C runtime:
   the loader calls it, and its result is the process's exit code. */
int main(void);

unsigned long __stdcall start(void* environment) {
  (void)environment;
  return (unsigned long)main();
}
