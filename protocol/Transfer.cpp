#include "Transfer.h"

#include <algorithm>

namespace {
constexpr int kEndSent = -1;
constexpr int kEndAcknowledged = -2;
const char kRecordCommand[] = "Sr";
const char kEndCommand[] = "Se";

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view StripBlanksAndControls(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}
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

void TTransfer::SetPaceMs(int paceMs) { TimerBaza.setInterval(std::max(paceMs, kMinimumPaceMs)); }

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
    Send(0, kNoRow, *start);
}

void TTransfer::Send(int cursor, int row, const std::string& command) {
  host_.SendOrder(command);
  emit CommandSent(cursor, row, command);
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
    emit Finished(TransferFailed);
  }
}

void TTransfer::SendRow(int cursor) {
  const std::string row = host_.RowText(cursor - 1);
  if (!row.empty()) {
    Send(cursor, cursor - 1, kRecordCommand + row);
    return;
  }
  TransferFailed = true;
  SendEnd();
}

void TTransfer::SendEnd() {
  TransferCursor = kEndSent;
  Send(kEndSent, kNoRow, kEndCommand);
}

void TTransfer::HandleReply(const std::string& text, int) {
  ReplyBuffer += text;
  // The buffer holds no line feed between calls, so only the new piece can complete a line.
  if (text.find('\n') == std::string::npos) {
    DropOldestPastCap();
    return;
  }
  // Emptied before the line is matched, so nothing it triggers can see a stale buffer.
  const std::string line(StripBlanksAndControls(ReplyBuffer));
  ReplyBuffer.clear();
  LineCompleted(line);
}

void TTransfer::DropOldestPastCap() {
  if (ReplyBuffer.size() > kReplyBufferCap) ReplyBuffer.erase(0, ReplyBuffer.size() - kReplyBufferCap);
}

void TTransfer::LineCompleted(std::string_view line) {
  const std::optional<std::string> expected = ExpectedReply(TransferCursor, host_.DatabaseKindPosition());
  const bool matched = expected && line == *expected;
  if (matched) {
    if (TransferCursor == kEndSent)
      TransferCursor = kEndAcknowledged;
    else if (TransferCursor >= 0)
      ++TransferCursor;
  }
  ArmTimer();
  emit LineReceived(std::string(line), matched);
}

// A running timer keeps its interval, so lines completed within one interval give a single tick.
void TTransfer::ArmTimer() {
  if (!TimerBaza.isActive()) TimerBaza.start();
}
