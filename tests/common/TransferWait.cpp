#include "TransferWait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
  if (done()) return true;
  QEventLoop loop;
  QElapsedTimer clock;
  clock.start();
  QTimer check;
  check.setTimerType(Qt::PreciseTimer);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done() || clock.hasExpired(timeoutMs)) loop.quit();
  });
  check.start(1);
  loop.exec();
  return done();
}
