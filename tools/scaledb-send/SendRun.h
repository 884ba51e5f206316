#pragma once
// One run of scaledb-send: a scale session per target, all at once over one shared table. Each
// transfer starts when its link is open; a target that cannot be opened, or fails on the way,
// ends on its own and the others go on.

#include "Progress.h"
#include "Targets.h"
#include "TransferRecord.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TDatabaseTable;
class TLedger;
class TUdpEndpoint;

struct TSendSettings {
  std::string File;  // absolute path, as the history keeps it
  std::string Kind;  // "products", "labels", "users", "statuses"
  int KindPosition = 0;
  int PaceMs = 100;
  int AnswerTimeoutMs = 15000;
  int Retries = 5;
  int UdpLocalPort = 1001;
  // Each row's text on its way to the wire; each session gets its own copy. Empty: unchanged.
  std::function<std::string(std::string)> RowEncoder;
  std::string Program = "scaledb-send";  // as the history, the ledger and the locks name it
  std::string Digest;                    // of the commands every target is sent
  // Where every transfer and attempt is recorded; none records nothing.
  TLedger* Ledger = nullptr;
  // A target whose scale holds Digest already is not contacted.
  bool OnlyChanged = false;
};

struct TTargetOutcome {
  std::string Name;
  std::string Target;      // the target as written
  TTransferRecord Record;  // Result "sent", "failed" or "current", the counts, the reason
  // "NAME: sent N records in 1m12s", "NAME: failed at record k of N: ...", "NAME: up to date (...)"
  std::string EndLine;
  bool TransferStarted = false;  // false when the link never opened or the run ended first
};

class TSendRun : public QObject {
  Q_OBJECT

 public:
  TSendRun(const std::vector<TTarget>& targets, std::shared_ptr<const TDatabaseTable> table,
           const TSendSettings& settings);
  ~TSendRun() override;

  // Opens every link.
  void Start();
  // Every target still under way ends as failed, "interrupted".
  void Interrupt();

  size_t Count() const { return runs_.size(); }
  // Datagrams the shared UDP port dropped because no target's scale sent them.
  int IgnoredDatagrams() const;
  TTargetStatus Status(size_t target) const;
  // Meaningful for a target once it has ended.
  const TTargetOutcome& Outcome(size_t target) const;
  // Every target ended "sent" or "current".
  bool AllSent() const;

 signals:
  void TargetStarted(size_t target);
  void RecordAcknowledged(size_t target);
  void TargetEnded(size_t target);
  // Every target has ended and every link is closed.
  void AllEnded();
  // Something to be said once, that changes no outcome: the ledger could not be written, a lock
  // could not be taken at all.
  void Notice(const std::string& text);

 private:
  struct TRun;
  void Watch(size_t target);
  void StartTarget(size_t target);
  bool EndIfCurrent(size_t target);
  void BoundOpening(size_t target);
  void Begun(size_t target);
  void Record(size_t target, const TTransferRecord& record);
  void PassOnLedgerNotice();
  void LinkStateChanged(size_t target, int state);
  void LinkFailed(size_t target, const std::string& reason);
  void FailUnderWay(size_t target, const std::string& reason);
  void EndWithoutTransfer(size_t target, const std::string& reason);
  void Ended(size_t target, const TTransferRecord& record);
  TTransferRecord Describe(size_t target) const;
  std::string FailurePoint(const TRun& run) const;

  std::shared_ptr<const TDatabaseTable> table_;
  TSendSettings settings_;
  std::shared_ptr<TUdpEndpoint> udpEndpoint_;
  std::vector<std::unique_ptr<TRun>> runs_;
  size_t ended_ = 0;
};
