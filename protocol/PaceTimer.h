#pragma once
// The pause before a transfer's next command, in place of a QTimer. Qt rounds every wait of its
// timers up to whole milliseconds, counted from the moment the event loop goes to sleep, so any
// work done after an acknowledgement (a window showing its progress, another scale's answer)
// lengthened the pause by a fraction of a millisecond, record after record. This timer wakes the
// event loop at its deadline. Single shot; one per transfer engine. The timers of an application
// share one clock (one timer descriptor), so a thousand engines add no thousand descriptors to
// every wait of the event loop.

#include <QObject>

#include <chrono>
#include <memory>

class QTimer;
class TPaceClock;

class TPaceTimer : public QObject {
  Q_OBJECT

 public:
  explicit TPaceTimer(QObject* parent = nullptr);
  ~TPaceTimer() override;
  TPaceTimer(const TPaceTimer&) = delete;
  TPaceTimer& operator=(const TPaceTimer&) = delete;

  void setInterval(int ms) { intervalMs_ = ms; }
  int interval() const { return intervalMs_; }
  // Runs for the interval from now, also when it runs already.
  void start();
  void stop();
  bool isActive() const { return active_; }
  // Milliseconds left, rounded up; -1 when it does not run.
  int remainingTime() const;

 signals:
  void timeout();

 private:
  friend class TPaceClock;
  void Expired();

  int intervalMs_ = 0;
  bool active_ = false;
  std::chrono::steady_clock::time_point deadline_{};
  TPaceClock* clock_ = nullptr;
  // Without a clock (no timer descriptor to spare, no application) the pause falls back on Qt's
  // own timer.
  std::unique_ptr<QTimer> fallback_;
};
