#include "StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Written by the signal handler, read by the event loop.
int stopPipe[2] = {-1, -1};

void WriteStopByte(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(stopPipe[1], &byte, 1);
  errno = saved;
}

void SetStopHandler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
}  // namespace

TStopSignals::TStopSignals(std::function<void()> onStop) : onStop_(std::move(onStop)) {
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
    char bytes[16];
    while (read(stopPipe[0], bytes, sizeof bytes) > 0) {
    }
    onStop_();
  });
  SetStopHandler(WriteStopByte);
}

TStopSignals::~TStopSignals() {
  SetStopHandler(SIG_DFL);
  notifier_.reset();
  for (int& fd : stopPipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}
