#include "Transfer.h"

namespace {
constexpr int kEndSent = -1;
constexpr int kEndAcknowledged = -2;
const char kRecordCommand[] = "Sr";
const char kEndCommand[] = "Se";
}  // namespace

std::optional<std::string> StartCommand(int position) {
  switch (position) {
    case 0: return "SbP";
    case 1: return "SbU";
    case 2: return "SbS";
    default: return std::nullopt;
  }
}

std::optional<std::string> ExpectedReply(int cursor, int position) {
  if (cursor == kEndSent) return "Me";
  if (cursor != 0) return "Mr";
  const std::optional<std::string> start = StartCommand(position);
  if (!start) return std::nullopt;
  return "M" + start->substr(1);
}

TTransfer::TTransfer(ITransferHost& host, QObject* parent) : QObject(parent), host_(host) {
  TimerBaza.setInterval(kTickMs);
  TimerBaza.setTimerType(Qt::PreciseTimer);
  connect(&TimerBaza, &QTimer::timeout, this, [this] { TimerBazaTimer(); });
}

void TTransfer::bbWyslijBazeClick() {
  try {
    if (host_.SendButtonTag() == 0)
      StartTransfer();
    else
      host_.SetSendButtonTag(0);
  } catch (...) {
  }
}

void TTransfer::StartTransfer() {
  host_.SetSendButtonTag(1);
  TransferCursor = 0;
  TransferFailed = false;
  if (const std::optional<std::string> start = StartCommand(host_.DatabaseKindPosition()))
    host_.SendOrder(*start);
}

void TTransfer::TimerBazaTimer() {
  TimerBaza.stop();
  const int cursor = TransferCursor;
  const int rows = host_.RowCount();
  if (cursor >= 1 && cursor <= rows) {
    SendRow(cursor);
  } else if (cursor == rows + 1) {
    SendEnd();
  } else if (cursor == kEndAcknowledged) {
    host_.SetSendButtonTag(0);
    host_.ShowTransferResult(TransferFailed);
  }
}

void TTransfer::SendRow(int cursor) {
  const std::string row = host_.RowText(cursor - 1);
  if (!row.empty()) {
    host_.SendOrder(kRecordCommand + row);
    return;
  }
  TransferFailed = true;
  SendEnd();
}

void TTransfer::SendEnd() {
  TransferCursor = kEndSent;
  host_.SendOrder(kEndCommand);
}

void TTransfer::LineCompleted(std::string_view line) {
  const std::optional<std::string> expected = ExpectedReply(TransferCursor, host_.DatabaseKindPosition());
  if (expected && line == *expected) {
    if (TransferCursor == kEndSent)
      TransferCursor = kEndAcknowledged;
    else if (TransferCursor >= 0)
      ++TransferCursor;
  }
  ArmTimer();
}

// A running timer keeps its interval, so lines completed within one interval give a single tick.
void TTransfer::ArmTimer() {
  if (!TimerBaza.isActive()) TimerBaza.start();
}
