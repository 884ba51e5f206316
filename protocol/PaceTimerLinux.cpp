// The pace timers on Linux: one timerfd per application, armed for the earliest deadline of all
// running timers; its readability wakes the event loop then.

#include "PaceTimer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <unordered_map>

using TClock = std::chrono::steady_clock;

// Belongs to the application, and goes with it.
class TPaceClock : public QObject {
 public:
  // The application's clock, made at the first need; none without an application or a descriptor.
  static TPaceClock* Get();
  ~TPaceClock() override;

  void Arm(TPaceTimer& timer);
  void Disarm(TPaceTimer& timer);

 private:
  TPaceClock(int fd, QObject* parent);
  void Fire();
  void Rearm();

  int fd_;
  QSocketNotifier notifier_;
  std::multimap<TClock::time_point, TPaceTimer*> due_;
  std::unordered_map<TPaceTimer*, std::multimap<TClock::time_point, TPaceTimer*>::iterator> places_;
};

namespace {
QPointer<TPaceClock>& ApplicationClock() {
  static QPointer<TPaceClock> clock;
  return clock;
}
}  // namespace

TPaceClock* TPaceClock::Get() {
  QPointer<TPaceClock>& clock = ApplicationClock();
  if (clock || !QCoreApplication::instance()) return clock;
  const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd >= 0) clock = new TPaceClock(fd, QCoreApplication::instance());
  return clock;
}

TPaceClock::TPaceClock(int fd, QObject* parent)
    : QObject(parent), fd_(fd), notifier_(fd, QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { Fire(); });
}

TPaceClock::~TPaceClock() {
  for (const auto& [timer, place] : places_) timer->clock_ = nullptr;
  notifier_.setEnabled(false);
  close(fd_);
}

void TPaceClock::Arm(TPaceTimer& timer) {
  Disarm(timer);
  const bool earliest = due_.empty() || timer.deadline_ < due_.begin()->first;
  places_[&timer] = due_.emplace(timer.deadline_, &timer);
  if (earliest) Rearm();
}

void TPaceClock::Disarm(TPaceTimer& timer) {
  const auto place = places_.find(&timer);
  if (place == places_.end()) return;
  due_.erase(place->second);
  places_.erase(place);
}

// One at a time: a timer's receiver may start or stop others, this one included.
void TPaceClock::Fire() {
  uint64_t expirations = 0;
  static_cast<void>(read(fd_, &expirations, sizeof expirations));
  const TClock::time_point now = TClock::now();
  while (!due_.empty() && due_.begin()->first <= now) {
    TPaceTimer* timer = due_.begin()->second;
    places_.erase(timer);
    due_.erase(due_.begin());
    timer->Expired();
  }
  Rearm();
}

// Set for the earliest deadline; a deadline already past fires at once. Left armed for a
// deadline no timer waits for any more, it finds none due and sets itself anew.
void TPaceClock::Rearm() {
  itimerspec arming{};
  if (!due_.empty()) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due_.begin()->first.time_since_epoch()).count();
    arming.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    arming.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    if (arming.it_value.tv_sec == 0 && arming.it_value.tv_nsec == 0) arming.it_value.tv_nsec = 1;
  }
  timerfd_settime(fd_, TFD_TIMER_ABSTIME, &arming, nullptr);
}

TPaceTimer::TPaceTimer(QObject* parent) : QObject(parent), clock_(TPaceClock::Get()) {
  if (clock_) return;
  fallback_ = std::make_unique<QTimer>();
  fallback_->setSingleShot(true);
  fallback_->setTimerType(Qt::PreciseTimer);
  connect(fallback_.get(), &QTimer::timeout, this, [this] { Expired(); });
}

TPaceTimer::~TPaceTimer() {
  if (clock_) clock_->Disarm(*this);
}

void TPaceTimer::start() {
  active_ = true;
  deadline_ = TClock::now() + std::chrono::milliseconds(intervalMs_);
  if (clock_) clock_->Arm(*this);
  else if (fallback_) fallback_->start(intervalMs_);
}

void TPaceTimer::stop() {
  active_ = false;
  if (clock_) clock_->Disarm(*this);
  else if (fallback_) fallback_->stop();
}

int TPaceTimer::remainingTime() const {
  if (!active_) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - TClock::now()).count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

void TPaceTimer::Expired() {
  if (!active_) return;
  active_ = false;
  emit timeout();
}
