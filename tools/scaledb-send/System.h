#pragma once
// What scaledb-send asks of the system: the terminal behind a file descriptor, room for many
// open links.

struct TTerminalSize {
  int Columns = 80;
  int Rows = 24;
};

bool IsTerminal(int fd);
// The terminal's size, or 80 x 24 when it does not say.
TTerminalSize TerminalSize(int fd);

// Raises the soft limit of open files to the hard one: every target holds a descriptor.
void RaiseOpenFilesLimit();
