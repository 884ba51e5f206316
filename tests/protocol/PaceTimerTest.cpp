#include "PaceTimer.h"
#include "Sanitized.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {
// Takes every free descriptor below a lowered limit while a timer is made, so it finds none.
std::unique_ptr<TPaceTimer> TimerWithoutDescriptors() {
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit lowered = saved;
  lowered.rlim_cur = 64;
  setrlimit(RLIMIT_NOFILE, &lowered);
  std::vector<int> taken;
  for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
  auto timer = std::make_unique<TPaceTimer>();
  for (const int fd : taken) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
  return timer;
}
}  // namespace

TEST(PaceTimer, TimesOutOnceAfterItsIntervalWithOrWithoutADescriptorToSpare) {
  for (const bool spare : {true, false}) {
    if (!spare && kSanitized) continue;  // a process without a descriptor to spare trips the sanitizer
    SCOPED_TRACE(spare ? "timer descriptor" : "no descriptor to spare");
    const std::unique_ptr<TPaceTimer> timer = spare ? std::make_unique<TPaceTimer>() : TimerWithoutDescriptors();
    QSignalSpy timeouts(timer.get(), &TPaceTimer::timeout);
    EXPECT_EQ(timer->remainingTime(), -1);

    timer->setInterval(1500);
    timer->start();
    EXPECT_GT(timer->remainingTime(), 1400) << "seconds and milliseconds both count";
    EXPECT_LE(timer->remainingTime(), 1500);
    timer->stop();
    EXPECT_FALSE(timer->isActive());
    EXPECT_FALSE(timeouts.wait(100)) << "a stopped timer stays silent";

    timer->setInterval(30);
    QElapsedTimer clock;
    clock.start();
    timer->start();
    EXPECT_TRUE(timer->isActive());
    ASSERT_TRUE(timeouts.wait(2000));
    EXPECT_GE(clock.elapsed(), 30);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->remainingTime(), -1);
    EXPECT_FALSE(timeouts.wait(100)) << "single shot";
    EXPECT_EQ(timeouts.count(), 1);
  }
}
