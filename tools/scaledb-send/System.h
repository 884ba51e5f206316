#pragma once
// What scaledb-send asks of the system: the terminal behind a file descriptor, and SIGINT and
// SIGTERM turned into an event of the Qt event loop.

#include <functional>
#include <memory>

class QSocketNotifier;

struct TTerminalSize {
  int Columns = 80;
  int Rows = 24;
};

bool IsTerminal(int fd);
// The terminal's size, or 80 x 24 when it does not say.
TTerminalSize TerminalSize(int fd);

// While it lives, SIGINT and SIGTERM call `onStop` from the event loop (once per signal).
class TStopSignals {
 public:
  explicit TStopSignals(std::function<void()> onStop);
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

 private:
  std::function<void()> onStop_;
  std::unique_ptr<QSocketNotifier> notifier_;
};
