#pragma once
// The event thread of an open port and its hand-over of batches to the port's own thread.

#include "SerialPort.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TDeviceEventWait;

// Calls `action` for each event of `events` in the order a batch runs them.
void ForEachInBatchOrder(TComEvents events, const std::function<void(TComEvent)>& action);

// Work that the event thread queues for the owner thread and waits for.
class THandOver {
 public:
  // Event thread: queues `action`, wakes `target`'s thread and blocks until the action ran (or, with
  // `acknowledgeFirst`, until the owner picked it up). Rethrows what the action raised.
  void Run(QObject& target, std::function<void()> action, bool acknowledgeFirst);
  // Owner thread: runs everything queued.
  void RunQueued();
  // Owner thread: runs queued work until the event thread has said it ended.
  void RunQueuedUntilEnded();
  // Event thread, as its last step.
  void MarkEnded();
  // Owner thread: lets the event thread go on although its current request is still running.
  void ReleaseRunning();

 private:
  struct TRequest {
    std::function<void()> Action;
    bool AcknowledgeFirst = false;
    bool Done = false;
    std::exception_ptr Error;
  };
  // Shared with posted wake-ups and with running batches, so a port closed from inside a batch
  // can drop its thread while the batch is still on the stack.
  struct TState {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<std::shared_ptr<TRequest>> Queue;
    std::vector<std::shared_ptr<TRequest>> Running;
    bool Ended = false;
  };
  static void RunQueued(TState& state);
  static std::shared_ptr<TRequest> TakeNext(TState& state);
  static void Finish(TState& state, TRequest& request, std::exception_ptr error);

  std::shared_ptr<TState> state_ = std::make_shared<TState>();
};

class TComThread {
 public:
  // On the opening thread: sets the device's event mask and starts the thread.
  TComThread(TCustomComPort& port, TSerialDevice& device);
  // Stops the thread and waits for it, running the batches it hands over meanwhile.
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  // A handler closing the port from inside a batch must not wait for its own batch.
  void ReleaseRunningBatch() { handOver_.ReleaseRunning(); }

 private:
  void Body();
  void Dispatch(TComEvents events);
  // The device went away: the port's handler runs where batches run, once.
  void ReportDeviceLost();
  // A window-sync notification, already acknowledged.
  void RunNotified(TComEvent event);

  TCustomComPort& port_;
  TSyncMethod method_;
  TSerialDevice& device_;
  std::unique_ptr<TDeviceEventWait> wait_;
  THandOver handOver_;
  // Lives on the owner thread; posted wake-ups for it are dropped once it is gone.
  QObject notifier_;
  std::thread thread_;
};
