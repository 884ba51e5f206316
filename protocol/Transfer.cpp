#include "Transfer.h"

TTransfer::TTransfer(ITransferHost& host, QObject* parent) : QObject(parent), host_(host) {
  TimerBaza.setInterval(100);
  TimerBaza.setTimerType(Qt::PreciseTimer);
  connect(&TimerBaza, &QTimer::timeout, this, [this] { TimerBazaTimer(); });
}

void TTransfer::bbWyslijBazeClick() {}
void TTransfer::TimerBazaTimer() { TimerBaza.stop(); }
void TTransfer::LineCompleted(std::string_view) {}
