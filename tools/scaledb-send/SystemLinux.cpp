#include "System.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool IsTerminal(int fd) { return isatty(fd) == 1; }

TTerminalSize TerminalSize(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return {};
  return {size.ws_col, size.ws_row};
}
