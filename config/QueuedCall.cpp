#include "QueuedCall.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <mutex>

#if defined(__SANITIZE_THREAD__)
#define SCALEDB_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SCALEDB_THREAD_SANITIZER 1
#endif
#endif

#ifdef SCALEDB_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace {
// What the posting thread did before HandOff comes before what the main thread does after
// TakeOver of the same event.
void HandOff([[maybe_unused]] QEvent* event) {
#ifdef SCALEDB_THREAD_SANITIZER
  __tsan_release(event);
#endif
}

void TakeOver([[maybe_unused]] QEvent* event) {
#ifdef SCALEDB_THREAD_SANITIZER
  __tsan_acquire(event);
#endif
}

QEvent::Type CallEventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

class TCallEvent : public QEvent {
 public:
  explicit TCallEvent(std::function<void()> call) : QEvent(CallEventType()), call_(std::move(call)) {}
  void Run() { call_(); }

 private:
  std::function<void()> call_;
};

// Sees every event for the objects of the main thread; Qt drops the events of an object that is
// destroyed before they are delivered, so a call never reaches a receiver that is gone.
class TCallFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject*, QEvent* event) override {
    // Before the event is read at all: it may come from another thread.
    TakeOver(event);
    if (event->type() != CallEventType()) return false;
    static_cast<TCallEvent*>(event)->Run();
    return true;
  }
};

void InstallCallFilter() {
  QCoreApplication* application = QCoreApplication::instance();
  application->installEventFilter(new TCallFilter(application));
}
}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallCallFilter)

void PostEvent(QObject* receiver, QEvent* event) {
  HandOff(event);
  static std::mutex posting;
  const std::lock_guard lock(posting);
  QCoreApplication::postEvent(receiver, event);
}

void QueueCall(QObject* receiver, std::function<void()> call) { PostEvent(receiver, new TCallEvent(std::move(call))); }
