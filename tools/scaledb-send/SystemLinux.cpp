#include "System.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool IsTerminal(int fd) { return isatty(fd) == 1; }

TTerminalSize TerminalSize(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return {};
  return {size.ws_col, size.ws_row};
}

namespace {
class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};
}  // namespace

std::string ReadSmallFile(const std::string& path, size_t limitMiB, std::string& bytes) {
  // Not waiting at the open: a device is refused before anything is read from it.
  const TFd probe(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (probe.Get() < 0 || fstat(probe.Get(), &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
  if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) return "not a regular file or a pipe";
  // A pipe is read as a reader that waits for its writer.
  const TFd file(S_ISFIFO(info.st_mode) ? open(path.c_str(), O_RDONLY | O_CLOEXEC) : dup(probe.Get()));
  if (file.Get() < 0) return std::strerror(errno);
  // The name may have been given to something else between the two opens.
  struct stat opened {};
  if (fstat(file.Get(), &opened) != 0 || opened.st_dev != info.st_dev || opened.st_ino != info.st_ino)
    return "it was replaced while being opened";
  bytes.clear();
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(file.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::strerror(errno);
    if (got == 0) return {};
    if (bytes.size() + static_cast<size_t>(got) > limitMiB << 20) return "larger than " + std::to_string(limitMiB) + " MiB";
    bytes.append(buffer, static_cast<size_t>(got));
  }
}
