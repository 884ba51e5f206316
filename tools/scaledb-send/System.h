#pragma once
// What scaledb-send asks of the system: the terminal behind a file descriptor, small input files.

#include <cstddef>
#include <string>

struct TTerminalSize {
  int Columns = 80;
  int Rows = 24;
};

bool IsTerminal(int fd);
// The terminal's size, or 80 x 24 when it does not say.
TTerminalSize TerminalSize(int fd);

// Reads the whole of a regular file or a pipe of at most `limitMiB` MiB into `bytes`; why it
// cannot in words (a device, a folder, too large), or empty.
std::string ReadSmallFile(const std::string& path, size_t limitMiB, std::string& bytes);
