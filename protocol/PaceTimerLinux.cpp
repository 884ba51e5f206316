// The pace timer on Linux: a timerfd whose readability wakes the event loop at the deadline.

#include "PaceTimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace {
constexpr long kNanosecondsPerMs = 1000000;

itimerspec After(int ms) {
  itimerspec spec{};
  spec.it_value.tv_sec = ms / 1000;
  spec.it_value.tv_nsec = ms % 1000 * kNanosecondsPerMs;
  // An all-zero value would disarm the timer instead of firing at once.
  if (ms <= 0) spec.it_value.tv_nsec = 1;
  return spec;
}
}  // namespace

TPaceTimer::TPaceTimer(QObject* parent) : QObject(parent) {
  fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd_ >= 0) {
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Expired(); });
    return;
  }
  fallback_ = std::make_unique<QTimer>();
  fallback_->setSingleShot(true);
  fallback_->setTimerType(Qt::PreciseTimer);
  connect(fallback_.get(), &QTimer::timeout, this, [this] {
    active_ = false;
    emit timeout();
  });
}

TPaceTimer::~TPaceTimer() {
  notifier_.reset();
  if (fd_ >= 0) close(fd_);
}

void TPaceTimer::start() {
  active_ = true;
  if (fallback_) {
    fallback_->start(intervalMs_);
    return;
  }
  const itimerspec spec = After(intervalMs_);
  timerfd_settime(fd_, 0, &spec, nullptr);
}

void TPaceTimer::stop() {
  active_ = false;
  if (fallback_) {
    fallback_->stop();
    return;
  }
  const itimerspec disarmed{};
  timerfd_settime(fd_, 0, &disarmed, nullptr);
}

int TPaceTimer::remainingTime() const {
  if (!active_) return -1;
  if (fallback_) return fallback_->remainingTime();
  itimerspec left{};
  timerfd_gettime(fd_, &left);
  const long long ns = static_cast<long long>(left.it_value.tv_sec) * 1000 * kNanosecondsPerMs + left.it_value.tv_nsec;
  return static_cast<int>((ns + kNanosecondsPerMs - 1) / kNanosecondsPerMs);
}

// A read that finds nothing is an expiry that start or stop has set aside since.
void TPaceTimer::Expired() {
  uint64_t expirations = 0;
  if (read(fd_, &expirations, sizeof expirations) != sizeof expirations || !active_) return;
  active_ = false;
  emit timeout();
}
