#include "Transfer.h"

#include "Escape.h"
#include "ScaleCommands.h"

#include <algorithm>

namespace {
constexpr int kEndSent = -1;
constexpr int kEndAcknowledged = -2;

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view StripBlanksAndControls(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}
}  // namespace

std::string QuotedAnswer(std::string_view answer) {
  constexpr size_t kMaxCharacters = 40;
  const TEscapedPrefix quoted = EscapedPrefix(answer, TEscape::HexOutsidePrintable, kMaxCharacters);
  return quoted.Whole ? quoted.Text : quoted.Text + "\u2026";
}

std::optional<std::string> StartCommand(int position) {
  const TDatabaseKind* kind = DatabaseKindAt(position);
  if (!kind) return std::nullopt;
  return std::string(kind->StartCommand);
}

std::optional<std::string> ExpectedReply(int cursor, int position) {
  if (cursor == kEndSent) return std::string(kEndAcknowledgement);
  if (cursor != 0) return std::string(kRecordAcknowledgement);
  const TDatabaseKind* kind = DatabaseKindAt(position);
  if (!kind) return std::nullopt;
  return std::string(kind->Acknowledgement);
}

TTransfer::TTransfer(ITransferHost& host, QObject* parent) : QObject(parent), host_(host) {
  PaceTimer.setInterval(kTickMs);
  connect(&PaceTimer, &TPaceTimer::timeout, this, [this] { PaceTick(); });
  answerTimer_.setSingleShot(true);
  // A coarse timer may fire up to 5% early, and the failure names the full time as waited.
  answerTimer_.setTimerType(Qt::PreciseTimer);
  connect(&answerTimer_, &QTimer::timeout, this, [this] {
    Abandon("The scale did not answer within " + QString::number(answerTimeoutMs_ / 1000.0).toStdString() +
            " s (" + WaitingCommand() + ").");
  });
}

void TTransfer::SetPaceMs(int paceMs) { PaceTimer.setInterval(std::max(paceMs, kMinimumPaceMs)); }

void TTransfer::Start() {
  try {
    StartTransfer();
  } catch (const std::exception& failure) {
    // A start that could not go out ends failed with its reason, never as sent.
    Abandon(failure.what());
  }
}

void TTransfer::Stop() {
  if (!limitsOn_) return;
  limitsOn_ = false;
  answerTimer_.stop();
  host_.ShowStoppable(false);
  emit Stopped();
}

void TTransfer::StartTransfer() {
  host_.ShowStoppable(true);
  TransferCursor = 0;
  TransferFailed = false;
  abandoned_ = false;
  running_ = true;
  acknowledgedRows_ = 0;
  limitsOn_ = true;
  waitingForAnswer_ = false;
  emit Started();
  if (const std::optional<std::string> start = StartCommand(host_.DatabaseKindPosition()))
    Send(0, kNoRow, *start);
}

void TTransfer::Send(int cursor, int row, const std::string& command) {
  if (!waitingForAnswer_) wrongAnswers_ = 0;
  waitingForAnswer_ = true;
  WatchAnswer();
  host_.SendOrder(command);
  emit CommandSent(cursor, row, command);
}

void TTransfer::WatchAnswer() {
  if (limitsOn_ && answerTimeoutMs_ > 0) answerTimer_.start(answerTimeoutMs_);
}

std::string TTransfer::WaitingCommand() const {
  if (TransferCursor == 0) return "start command";
  if (!WaitingForRecord()) return "end command";
  return "record " + std::to_string(TransferCursor) + " of " + std::to_string(host_.RowCount());
}

bool TTransfer::WaitingForRecord() const { return TransferCursor >= 1 && TransferCursor <= host_.RowCount(); }

void TTransfer::CountWrongAnswer(std::string_view line) {
  if (!limitsOn_ || !waitingForAnswer_ || recordRetries_ == kUnlimitedRetries) return;
  if (++wrongAnswers_ <= recordRetries_) return;
  const std::string answer = " (last answer: \"" + QuotedAnswer(line) + "\").";
  if (WaitingForRecord())
    Abandon("The scale refused " + WaitingCommand() + answer);
  else
    Abandon("The scale refused the " + WaitingCommand() + answer);
}

void TTransfer::GiveUp(const std::string& reason) {
  if (running_) Abandon(reason);
}

void TTransfer::Abandon(const std::string& reason) {
  abandoned_ = true;
  running_ = false;
  limitsOn_ = false;
  waitingForAnswer_ = false;
  TransferFailed = true;
  PaceTimer.stop();
  answerTimer_.stop();
  host_.ShowStoppable(false);
  emit Abandoned(reason);
}

void TTransfer::PaceTick() {
  PaceTimer.stop();
  if (abandoned_) return;
  const int cursor = TransferCursor;
  const int rows = host_.RowCount();
  if (cursor >= 1 && cursor <= rows) {
    SendRow(cursor);
  } else if (cursor == rows + 1) {
    SendEnd();
  } else if (cursor == kEndAcknowledged && running_) {
    Finish();
  }
}

void TTransfer::Finish() {
  const int rows = host_.RowCount();
  if (!TransferFailed && acknowledgedRows_ != rows) {
    Abandon("The scale acknowledged " + std::to_string(acknowledgedRows_) + " of " + std::to_string(rows) +
            " records.");
    return;
  }
  running_ = false;
  limitsOn_ = false;
  answerTimer_.stop();
  host_.ShowStoppable(false);
  emit Finished(TransferFailed);
}

void TTransfer::SendRow(int cursor) {
  const std::string row = host_.RowText(cursor - 1);
  if (!row.empty()) {
    Send(cursor, cursor - 1, std::string(kRecordCommand) + row);
    return;
  }
  TransferFailed = true;
  SendEnd();
}

void TTransfer::SendEnd() {
  TransferCursor = kEndSent;
  Send(kEndSent, kNoRow, std::string(kEndCommand));
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
  if (abandoned_) {
    emit LineReceived(std::string(line), false);
    return;
  }
  if (!waitingForAnswer_) {
    ArmTimer();
    emit LineReceived(std::string(line), false);
    if (running_) emit UnexpectedAnswer(std::string(line));
    return;
  }
  const std::optional<std::string> expected = ExpectedReply(TransferCursor, host_.DatabaseKindPosition());
  const bool matched = expected && line == *expected;
  if (matched) {
    if (TransferCursor == kEndSent)
      TransferCursor = kEndAcknowledged;
    else if (TransferCursor >= 0)
      CountAcknowledged();
    waitingForAnswer_ = false;
    answerTimer_.stop();
  } else {
    WatchAnswer();
  }
  ArmTimer();
  emit LineReceived(std::string(line), matched);
  if (!matched) CountWrongAnswer(line);
}

void TTransfer::CountAcknowledged() {
  if (TransferCursor >= 1) ++acknowledgedRows_;
  ++TransferCursor;
}

// A running timer keeps its interval, so lines completed within one interval give a single tick.
void TTransfer::ArmTimer() {
  if (!PaceTimer.isActive()) PaceTimer.start();
}
