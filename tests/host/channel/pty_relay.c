/* Runs a command with a pseudo-terminal standing in for a serial port: links
   LINK to the terminal's device, puts the line into raw mode, runs the
   command and writes every byte that arrives on the other side to OUTPUT.

     pty_relay LINK OUTPUT command args...   (exit status: the command's) */
#define _DEFAULT_SOURCE
#define _XOPEN_SOURCE 600
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

static void drain(int master, FILE* out, int timeoutMs) {
  char chunk[256];
  struct pollfd ready = {master, POLLIN, 0};
  while (poll(&ready, 1, timeoutMs) > 0 && (ready.revents & POLLIN)) {
    ssize_t n = read(master, chunk, sizeof chunk);
    if (n <= 0) break;
    fwrite(chunk, 1, (size_t)n, out);
  }
}

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 3;
  const char* name = ptsname(master);
  /* Held open so that the master never sees the line hang up between opens. */
  int slave = open(name, O_RDWR | O_NOCTTY);
  struct termios line;
  if (slave < 0 || tcgetattr(slave, &line) != 0) return 3;
  cfmakeraw(&line);
  tcsetattr(slave, TCSANOW, &line);
  unlink(argv[1]);
  if (symlink(name, argv[1]) != 0) return 3;
  FILE* out = fopen(argv[2], "wb");
  if (!out) return 3;
  pid_t child = fork();
  if (child == 0) {
    close(master);
    close(slave);
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) drain(master, out, 50);
  drain(master, out, 200);
  fclose(out);
  unlink(argv[1]);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
