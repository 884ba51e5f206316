#include "ScaleRunner.h"

#include "DatabaseTable.h"
#include "History.h"
#include "Ledger.h"
#include "QueuedCall.h"
#include "ScaleLock.h"
#include "Session.h"
#include "UdpEndpoint.h"

#include <QDateTime>
#include <QTimer>

#include <utility>

struct TScaleRunner::TRun {
  TTarget Target;
  std::unique_ptr<TScaleSession> Session;
  std::unique_ptr<TTransferRecorder> Recorder;
  // Bounds the opening of the link by the answer timeout.
  std::unique_ptr<QTimer> ConnectTimer;
  TScaleLock Lock;
  int64_t LedgerId = 0;
  QDateTime Begun;
  bool Opened = false;
  bool Ended = false;
  TTargetOutcome Outcome;
};

namespace {
const char kInterrupted[] = "interrupted";

std::unique_ptr<TLink> MakeTargetLink(const TTarget& target, std::shared_ptr<TUdpEndpoint>& udpEndpoint,
                                      const TRunSettings& run) {
  if (target.Link.Kind == TLinkSettings::TKind::Udp) {
    if (!udpEndpoint) udpEndpoint = std::make_shared<TUdpEndpoint>(run.UdpLocalPort);
    return std::make_unique<TSharedUdpLink>(target.Link.Host, target.Link.Port, udpEndpoint);
  }
  TLinkSettings settings = target.Link;
  if (settings.Kind == TLinkSettings::TKind::Serial) settings.SerialSettingsFile = run.SerialSettingsFile;
  return MakeLink(settings);
}

std::string SecondsText(int milliseconds) { return QString::number(milliseconds / 1000.0).toStdString(); }

double SecondsSince(const QDateTime& begun) {
  return static_cast<double>(begun.msecsTo(QDateTime::currentDateTime())) / 1000;
}
}  // namespace

TScaleRunner::TScaleRunner(const std::vector<TTarget>& targets, std::shared_ptr<const TDatabaseTable> table,
                   const TRunSettings& settings)
    : table_(std::move(table)), settings_(settings) {
  for (const TTarget& target : targets) {
    auto run = std::make_unique<TRun>();
    run->Target = target;
    run->Session = std::make_unique<TScaleSession>(MakeTargetLink(target, udpEndpoint_, settings_),
                                                   table_, settings_.KindPosition);
    TTransfer& engine = run->Session->Engine();
    engine.SetPaceMs(settings_.PaceMs);
    engine.SetAnswerTimeoutMs(settings_.AnswerTimeoutMs);
    engine.SetRecordRetries(settings_.Retries);
    if (settings_.RowEncoder) run->Session->SetRowEncoder(settings_.RowEncoder);
    const size_t index = runs_.size();
    run->Recorder = std::make_unique<TTransferRecorder>(engine, [this, index] { return Describe(index); });
    runs_.push_back(std::move(run));
    Watch(index);
  }
}

// The recorders go first and quietly: a transfer they still follow is no outcome of this run.
TScaleRunner::~TScaleRunner() {
  for (const auto& run : runs_) {
    run->Recorder->disconnect(this);
    run->Recorder.reset();
  }
}

void TScaleRunner::Watch(size_t target) {
  TRun& run = *runs_[target];
  TLink& link = run.Session->Link();
  connect(&link, &TLink::StateChanged, this, [this, target](LinkState state) { LinkStateChanged(target, state); });
  connect(&link, &TLink::Failed, this, [this, target](const std::string& reason) { LinkFailed(target, reason); });
  connect(&link, &TLink::DatagramIgnored, run.Recorder.get(), &TTransferRecorder::CountIgnoredDatagram);
  connect(&run.Session->Engine(), &TTransfer::LineReceived, this, [this, target](const std::string&, bool matched) {
    if (matched) emit RecordAcknowledged(target);
  });
  connect(&run.Session->Engine(), &TTransfer::Started, this, [this, target] { Begun(target); });
  connect(run.Recorder.get(), &TTransferRecorder::Recorded, this,
          [this, target](const TTransferRecord& record) {
            runs_[target]->Outcome.TransferStarted = true;
            Ended(target, record);
          });
}

void TScaleRunner::Start() {
  for (size_t target = 0; target < runs_.size(); ++target) StartTarget(target);
}

// A scale that another sender talks to is busy; one that holds the file already is left alone. What
// it holds is read under its lock, so a transfer that another sender has just ended counts.
void TScaleRunner::StartTarget(size_t target) {
  TRun& run = *runs_[target];
  run.Begun = QDateTime::currentDateTime();
  const TScaleLock::TOutcome lock = run.Lock.Take(run.Target.Key, settings_.Program);
  if (lock.Refused) {
    EndWithoutTransfer(target, lock.Text, TTransferResult::Failed,
                       lock.Busy ? TTransferFailure::Busy : TTransferFailure::NotStarted);
    return;
  }
  if (!lock.Text.empty()) emit Notice(lock.Text + "; sending without it");
  if (EndIfCurrent(target)) return;
  if (run.Target.Link.Kind == TLinkSettings::TKind::Udp && !settings_.UdpRefusal.empty()) {
    EndWithoutTransfer(target, settings_.UdpRefusal);
    return;
  }
  BoundOpening(target);
  run.Session->Link().Open();
}

bool TScaleRunner::EndIfCurrent(size_t target) {
  if (!settings_.OnlyChanged || !settings_.Ledger) return false;
  const std::optional<TScaleState> state = settings_.Ledger->State(runs_[target]->Target.Key);
  PassOnLedgerNotice();
  if (!state || state->Holds != TScaleState::THolds::Content || state->Digest != settings_.Digest) return false;
  TTransferRecord record = Describe(target);
  record.Started = runs_[target]->Begun;
  record.Result = TTransferResult::Current;
  record.Reason = "up to date (sent " + (state->LastSuccess ? state->LastSuccess->toString("yyyy-MM-dd HH:mm").toStdString() : "") +
                  " by " + state->LastSuccessProgram + ")";
  Ended(target, record);
  return true;
}

void TScaleRunner::Begun(size_t target) {
  TRun& run = *runs_[target];
  if (!settings_.Ledger || !run.Recorder->Current()) return;
  run.LedgerId = settings_.Ledger->Begin({run.Target.Key, run.Target.Name}, *run.Recorder->Current());
  PassOnLedgerNotice();
}

// A transfer that started completes its entry; an attempt that never reached the scale is one.
void TScaleRunner::Record(size_t target, const TTransferRecord& record) {
  TRun& run = *runs_[target];
  if (!settings_.Ledger || record.Result == TTransferResult::Current) return;
  if (run.Outcome.TransferStarted)
    settings_.Ledger->End(run.LedgerId, record);
  else
    settings_.Ledger->RecordAttempt({run.Target.Key, run.Target.Name}, record);
  PassOnLedgerNotice();
}

void TScaleRunner::PassOnLedgerNotice() {
  if (const std::string notice = settings_.Ledger->TakeNotice(); !notice.empty()) emit Notice(notice);
}

// A connection that is never answered would otherwise wait for the system's own limit, minutes.
void TScaleRunner::BoundOpening(size_t target) {
  if (settings_.AnswerTimeoutMs <= 0) return;
  TRun& run = *runs_[target];
  run.ConnectTimer = std::make_unique<QTimer>();
  run.ConnectTimer->setSingleShot(true);
  connect(run.ConnectTimer.get(), &QTimer::timeout, this, [this, target] {
    const TRun& run = *runs_[target];
    if (!run.Opened && !run.Ended)
      EndWithoutTransfer(target, "could not connect within " + SecondsText(settings_.AnswerTimeoutMs) + " s");
  });
  run.ConnectTimer->start(settings_.AnswerTimeoutMs);
}

void TScaleRunner::LinkStateChanged(size_t target, LinkState state) {
  TRun& run = *runs_[target];
  if (run.Ended) return;
  if (state == lsConnected && !run.Opened) {
    run.Opened = true;
    if (run.ConnectTimer) run.ConnectTimer->stop();
    emit TargetOpened(target);
    run.Session->Start();
  } else if (state == lsDisconnected && run.Opened) {
    FailUnderWay(target, "The link to the scale closed (" + run.Session->Engine().WaitingCommand() + ").");
  }
}

void TScaleRunner::LinkFailed(size_t target, const std::string& reason) {
  TRun& run = *runs_[target];
  if (run.Ended) return;
  if (run.Opened)
    FailUnderWay(target, reason);
  else
    EndWithoutTransfer(target, reason);
}

void TScaleRunner::FailUnderWay(size_t target, const std::string& reason) {
  TRun& run = *runs_[target];
  run.Session->Stop();
  run.Recorder->Interrupt(reason);
}

void TScaleRunner::EndWithoutTransfer(size_t target, const std::string& reason, TTransferResult result,
                                      TTransferFailure failure) {
  TTransferRecord record = Describe(target);
  record.Started = runs_[target]->Begun;
  record.Result = result;
  if (result == TTransferResult::Failed) record.Failure = failure;
  record.Reason = reason;
  record.Seconds = SecondsSince(record.Started);
  Ended(target, record);
}

void TScaleRunner::Interrupt() {
  for (size_t target = 0; target < runs_.size(); ++target) {
    TRun& run = *runs_[target];
    if (run.Ended) continue;
    if (run.Recorder->Current())
      FailUnderWay(target, kInterrupted);
    else
      EndWithoutTransfer(target, kInterrupted);
  }
}

void TScaleRunner::Stop() {
  for (size_t target = 0; target < runs_.size(); ++target) {
    TRun& run = *runs_[target];
    if (run.Ended) continue;
    if (run.Recorder->Current()) {
      run.Session->Stop();
      run.Recorder->EndUnfinished();
    } else {
      EndWithoutTransfer(target, "", TTransferResult::Stopped);
    }
  }
}

// A history that cannot be written is said once and changes nothing else.
void TScaleRunner::AppendToHistory(const TTransferRecord& record) {
  if (settings_.HistoryPath.empty()) return;
  try {
    AppendHistory(settings_.HistoryPath, record);
  } catch (const EHistory& error) {
    if (!std::exchange(historyFailureSaid_, true)) emit Notice(error.what());
  }
}

TTransferRecord TScaleRunner::Describe(size_t target) const {
  TTransferRecord record;
  record.Program = settings_.Program;
  record.Digest = settings_.Digest;
  record.File = settings_.File;
  record.Link = runs_[target]->Session->Link().Name();
  record.Kind = settings_.Kind;
  record.Rows = table_->RowCount();
  return record;
}

// Empty for a busy scale: nothing was attempted on it.
std::string TScaleRunner::FailurePoint(const TRun& run) const {
  const TTransferRecord& record = run.Outcome.Record;
  if (record.Failure == TTransferFailure::Busy) return {};
  if (record.Failure == TTransferFailure::NotStarted) return "to connect";
  if (record.Failure == TTransferFailure::EmptyRow)
    return "at record " + std::to_string(record.RecordsSent + 1) + " of " + std::to_string(record.Rows);
  const TTransfer& engine = run.Session->Engine();
  return (engine.WaitingForRecord() ? "at " : "at the ") + engine.WaitingCommand();
}

void TScaleRunner::Ended(size_t target, const TTransferRecord& record) {
  TRun& run = *runs_[target];
  if (run.Ended) return;
  run.Ended = true;
  run.Outcome.Name = run.Target.Name;
  run.Outcome.Target = run.Target.Text;
  run.Outcome.Record = record;
  Record(target, record);
  if (run.Outcome.TransferStarted) AppendToHistory(record);
  if (record.Result == TTransferResult::Failed) run.Outcome.FailurePoint = FailurePoint(run);
  emit TargetEnded(target);
  // Closed once the event that ended it has returned: a link may not go inside its own event.
  QueueCall(this, [this, target] {
    runs_[target]->Session->Link().Close();
    runs_[target]->Lock.Release();
  });
  // After every link's closing: the local UDP port is free for the window's connection again.
  if (++ended_ == runs_.size())
    QueueCall(this, [this] {
      if (udpEndpoint_) udpEndpoint_->Close();
      emit AllEnded();
    });
}

TTargetStatus TScaleRunner::Status(size_t target) const {
  const TRun& run = *runs_[target];
  TTargetStatus status;
  if (run.Ended) {
    status.Phase = TTargetStatus::TPhase::Ended;
    status.Acknowledged = run.Outcome.Record.RecordsSent;
    status.Seconds = run.Outcome.Record.Seconds;
  } else if (const std::optional<TTransferRecord>& current = run.Recorder->Current()) {
    status.Phase = TTargetStatus::TPhase::Sending;
    status.Acknowledged = current->RecordsSent;
    status.Seconds = SecondsSince(current->Started);
  } else if (run.Opened) {
    status.Phase = TTargetStatus::TPhase::Sending;
  }
  return status;
}

int TScaleRunner::Rows() const { return table_->RowCount(); }

int TScaleRunner::IgnoredDatagrams() const { return udpEndpoint_ ? udpEndpoint_->IgnoredDatagrams() : 0; }

bool TScaleRunner::HoldsUdpPort() const { return udpEndpoint_ && udpEndpoint_->IsOpen(); }

const TTargetOutcome& TScaleRunner::Outcome(size_t target) const { return runs_[target]->Outcome; }

bool TScaleRunner::AllSent() const {
  for (const auto& run : runs_)
    if (!run->Ended || !Succeeded(run->Outcome.Record.Result)) return false;
  return true;
}
