#include "TransferRecord.h"

#include "Transfer.h"

#include <utility>

const char kTransferFailedText[] = "Database could not be sent to scale.";

namespace {
constexpr std::pair<TTransferResult, std::string_view> kResultTexts[] = {
    {TTransferResult::Sent, "sent"},
    {TTransferResult::Failed, "failed"},
    {TTransferResult::Stopped, "stopped"},
    {TTransferResult::Current, "current"},
    {TTransferResult::NeverEnded, "never ended"},
};
}  // namespace

std::string_view ResultText(TTransferResult result) {
  for (const auto& [named, text] : kResultTexts)
    if (named == result) return text;
  return {};
}

std::optional<TTransferResult> ResultFromText(std::string_view text) {
  for (const auto& [result, named] : kResultTexts)
    if (named == text) return result;
  return std::nullopt;
}

TTransferRecorder::TTransferRecorder(TTransfer& engine, std::function<TTransferRecord()> describe, QObject* parent)
    : QObject(parent), describe_(std::move(describe)) {
  connect(&engine, &TTransfer::Started, this, [this] { Begin(); });
  connect(&engine, &TTransfer::Stopped, this, [this] {
    if (current_) stoppedAt_ = QDateTime::currentDateTime();
  });
  connect(&engine, &TTransfer::CommandSent, this, [this](int, int row, const std::string&) { CommandSent(row); });
  connect(&engine, &TTransfer::LineReceived, this, [this](const std::string&, bool matched) { LineReceived(matched); });
  connect(&engine, &TTransfer::UnexpectedAnswer, this, [this](const std::string&) {
    if (current_) ++current_->UnexpectedAnswers;
  });
  connect(&engine, &TTransfer::Finished, this, [this](bool failed) {
    if (failed)
      End(TTransferResult::Failed, TTransferFailure::EmptyRow, kTransferFailedText);
    else
      End(TTransferResult::Sent, TTransferFailure::None, "");
  });
  connect(&engine, &TTransfer::Abandoned, this,
          [this](const std::string& reason) { End(TTransferResult::Failed, TTransferFailure::GaveUp, reason); });
}

TTransferRecorder::~TTransferRecorder() { EndUnfinished(); }

void TTransferRecorder::Interrupt(const std::string& reason) {
  End(TTransferResult::Failed, TTransferFailure::Interrupted, reason);
}

void TTransferRecorder::CountIgnoredDatagram() {
  if (current_) ++current_->IgnoredDatagrams;
}

void TTransferRecorder::Begin() {
  EndUnfinished();
  current_ = describe_();
  current_->Started = QDateTime::currentDateTime();
  lastRow_ = TTransfer::kNoRow;
  recordWaiting_ = false;
}

void TTransferRecorder::CommandSent(int row) {
  if (!current_) return;
  if (row != TTransfer::kNoRow && row == lastRow_) ++current_->Resends;
  lastRow_ = row;
  recordWaiting_ = row != TTransfer::kNoRow;
}

void TTransferRecorder::LineReceived(bool matched) {
  if (!current_ || !matched || !recordWaiting_) return;
  ++current_->RecordsSent;
  recordWaiting_ = false;
}

void TTransferRecorder::End(TTransferResult result, TTransferFailure failure, const std::string& reason) {
  if (!current_) return;
  TTransferRecord record = std::move(*current_);
  current_.reset();
  stoppedAt_.reset();
  record.Result = result;
  record.Failure = failure;
  record.Reason = reason;
  record.Seconds = static_cast<double>(record.Started.msecsTo(QDateTime::currentDateTime())) / 1000;
  emit Recorded(record);
}

// A transfer that never reached its end counts as stopped, until "Stop" or until now.
void TTransferRecorder::EndUnfinished() {
  if (!current_) return;
  TTransferRecord record = std::move(*current_);
  current_.reset();
  record.Result = TTransferResult::Stopped;
  record.Seconds = static_cast<double>(record.Started.msecsTo(stoppedAt_.value_or(QDateTime::currentDateTime()))) / 1000;
  stoppedAt_.reset();
  emit Recorded(record);
}
