#pragma once
// SIGINT and SIGTERM turned into an event of the Qt event loop, where a program can end politely.

#include <functional>
#include <memory>

class QSocketNotifier;

// While it lives, SIGINT and SIGTERM call `onStop` from the event loop (once per signal). One at
// a time: signals belong to the whole process.
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
