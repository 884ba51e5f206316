#include "ComThread.h"

#include "QueuedCall.h"
#include "SerialDevice.h"

void ForEachInBatchOrder(TComEvents events, const std::function<void(TComEvent)>& action) {
  // Errors come before the input count, whose reading clears the error state as well.
  static const TComEvent kOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                     evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};
  for (TComEvent event : kOrder)
    if (events & ComEvent(event)) action(event);
}

void THandOver::Run(QObject& target, std::function<void()> action, bool acknowledgeFirst) {
  std::shared_ptr<TState> state = state_;
  auto request = std::make_shared<TRequest>();
  request->Action = std::move(action);
  request->AcknowledgeFirst = acknowledgeFirst;
  {
    std::lock_guard<std::mutex> lock(state->Mutex);
    state->Queue.push_back(request);
  }
  state->Changed.notify_all();
  QueueCall(&target, [state] { RunQueued(*state); });
  std::unique_lock<std::mutex> lock(state->Mutex);
  state->Changed.wait(lock, [&] { return request->Done; });
  if (!acknowledgeFirst && request->Error) std::rethrow_exception(request->Error);
}

std::shared_ptr<THandOver::TRequest> THandOver::TakeNext(TState& state) {
  std::lock_guard<std::mutex> lock(state.Mutex);
  if (state.Queue.empty()) return nullptr;
  std::shared_ptr<TRequest> request = state.Queue.front();
  state.Queue.pop_front();
  state.Running.push_back(request);
  if (request->AcknowledgeFirst) {
    request->Done = true;
    state.Changed.notify_all();
  }
  return request;
}

void THandOver::Finish(TState& state, TRequest& request, std::exception_ptr error) {
  {
    std::lock_guard<std::mutex> lock(state.Mutex);
    request.Error = error;
    request.Done = true;
    std::erase_if(state.Running, [&](const auto& running) { return running.get() == &request; });
  }
  state.Changed.notify_all();
}

void THandOver::RunQueued(TState& state) {
  while (std::shared_ptr<TRequest> request = TakeNext(state)) {
    std::exception_ptr error;
    try {
      request->Action();
    } catch (...) {
      error = std::current_exception();
    }
    Finish(state, *request, error);
  }
}

void THandOver::RunQueued() {
  std::shared_ptr<TState> state = state_;
  RunQueued(*state);
}

void THandOver::RunQueuedUntilEnded() {
  std::shared_ptr<TState> state = state_;
  std::unique_lock<std::mutex> lock(state->Mutex);
  while (!state->Ended) {
    if (!state->Queue.empty()) {
      lock.unlock();
      RunQueued(*state);
      lock.lock();
      continue;
    }
    state->Changed.wait(lock);
  }
}

void THandOver::MarkEnded() {
  {
    std::lock_guard<std::mutex> lock(state_->Mutex);
    state_->Ended = true;
  }
  state_->Changed.notify_all();
}

void THandOver::ReleaseRunning() {
  {
    std::lock_guard<std::mutex> lock(state_->Mutex);
    for (const auto& request : state_->Running) request->Done = true;
  }
  state_->Changed.notify_all();
}

TComThread::TComThread(TCustomComPort& port, TSerialDevice& device)
    : port_(port), method_(port.SyncMethod()), device_(device) {
  int error = 0;
  wait_ = std::make_unique<TDeviceEventWait>(device, port.Events(), error);
  if (error) throw EComPort(1, error);
  thread_ = std::thread([this] { Body(); });
}

TComThread::~TComThread() {
  wait_->Stop();
  std::this_thread::yield();
  handOver_.RunQueuedUntilEnded();
  thread_.join();
}

void TComThread::Body() {
  bool endedByError = false;
  for (;;) {
    TComEvents events = 0;
    const TDeviceEventWait::TWake wake = wait_->Wait(events);
    if (wake == TDeviceEventWait::TWake::Stopped) break;
    if (wake == TDeviceEventWait::TWake::Gone) {
      ReportDeviceLost();
      break;
    }
    if (wake == TDeviceEventWait::TWake::Skipped) continue;
    try {
      Dispatch(events);
    } catch (...) {
      endedByError = true;  // delivery ends here; mask and buffers stay as they are
      break;
    }
  }
  if (!endedByError) {
    wait_->ClearMask();
    device_.DiscardBuffers();
  }
  handOver_.MarkEnded();
}

void TComThread::Dispatch(TComEvents events) {
  switch (method_) {
    case smThreadSync:
      handOver_.Run(notifier_, [this, events] { port_.RunBatch(events); }, false);
      break;
    case smWindowSync:
      ForEachInBatchOrder(events, [this](TComEvent event) {
        handOver_.Run(notifier_, [this, event] { RunNotified(event); }, true);
      });
      break;
    case smNone:
      port_.RunBatch(events);
      break;
  }
}

void TComThread::ReportDeviceLost() {
  // The handler's failure is shown where the handler ran, like a notified event's; the thread
  // ends either way.
  const auto lost = [this] {
    try {
      port_.RunDeviceLost();
    } catch (const std::exception& error) {
      if (ComPortDefaultErrorDisplay) ComPortDefaultErrorDisplay(error);
    }
  };
  if (method_ == smNone)
    lost();
  else
    handOver_.Run(notifier_, lost, method_ == smWindowSync);
}

void TComThread::RunNotified(TComEvent event) {
  if (!port_.Connected()) return;
  try {
    port_.RunEventAction(event);
  } catch (const std::exception& error) {
    if (ComPortDefaultErrorDisplay) ComPortDefaultErrorDisplay(error);
  } catch (...) {
    if (ComPortDefaultErrorDisplay) ComPortDefaultErrorDisplay(std::runtime_error("unknown error"));
  }
}
