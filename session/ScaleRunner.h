#pragma once
// The runner of many scales at once, for scaledb-send and the window's Scales board: a scale
// session per target over one shared table. Each target takes its scale's lock, opens its link
// and starts its transfer when the link is open; a target that cannot be opened, or fails on the
// way, ends on its own and the others go on. Every transfer and attempt goes into the ledger.

#include "Global.h"
#include "LinkSettings.h"
#include "TransferRecord.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TDatabaseTable;
class TLedger;
class TUdpEndpoint;

// Where a target stands, for a progress line.
struct TTargetStatus {
  enum class TPhase { Connecting, Sending, Ended };
  TPhase Phase = TPhase::Connecting;
  int Acknowledged = 0;   // records the scale acknowledged
  double Seconds = 0;     // since its transfer started
};

struct TRunSettings {
  std::string File;  // absolute path, as the history keeps it
  std::string Kind;  // "products", "labels", "users", "statuses"
  int KindPosition = 0;
  int PaceMs = 100;
  int AnswerTimeoutMs = 15000;
  int Retries = 5;
  int UdpLocalPort = 1001;
  // Why no UDP target may be contacted in this run (another part of the program holds the local
  // port): each ends failed with it, the others go on. Empty: they may.
  std::string UdpRefusal;
  // Each row's text on its way to the wire; each session gets its own copy. Empty: unchanged.
  std::function<std::string(std::string)> RowEncoder;
  // The serial settings (as the window keeps them) for serial targets; empty: 9600 8N1.
  std::string SerialSettingsFile;
  std::string Program = "scaledb-send";  // as the history, the ledger and the locks name it
  std::string Digest;                    // of the commands every target is sent
  // Where every transfer and attempt is recorded; none records nothing.
  TLedger* Ledger = nullptr;
  // A target whose scale holds Digest already is not contacted.
  bool OnlyChanged = false;
  // Every transfer that starts becomes a line of this history file; empty: none.
  std::string HistoryPath;
};

struct TTargetOutcome {
  std::string Name;
  std::string Target;      // the target as written
  // Result sent, failed or current, the counts, the reason; for current the reason is
  // "up to date (sent 2026-12-08 02:31 by scaledb-send)".
  TTransferRecord Record;
  bool TransferStarted = false;  // false when the link never opened or the run ended first
  // Where a failed target stood: "to connect", "at record 17 of 120", "at the end command";
  // empty when it never got that far (its scale was busy).
  std::string FailurePoint;
};

class TScaleRunner : public QObject {
  Q_OBJECT

 public:
  TScaleRunner(const std::vector<TTarget>& targets, std::shared_ptr<const TDatabaseTable> table,
               const TRunSettings& settings);
  ~TScaleRunner() override;

  // Opens every link.
  void Start();
  // Every target still under way ends as failed, "interrupted".
  void Interrupt();
  // Every target still under way ends as "stopped", as "Stop" ends the window's transfer.
  void Stop();
  // Some target has not ended yet.
  bool Running() const { return ended_ < runs_.size(); }

  size_t Count() const { return runs_.size(); }
  // The rows of the table every target is sent.
  int Rows() const;
  // Datagrams the shared UDP port dropped because no target's scale sent them.
  int IgnoredDatagrams() const;
  // The local UDP port is bound for this run's UDP targets; it is given back once all have ended.
  bool HoldsUdpPort() const;
  TTargetStatus Status(size_t target) const;
  // Meaningful for a target once it has ended.
  const TTargetOutcome& Outcome(size_t target) const;
  // Every target ended "sent" or "current".
  bool AllSent() const;

 signals:
  // The target's link is open and its transfer starts.
  void TargetOpened(size_t target);
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
  void LinkStateChanged(size_t target, LinkState state);
  void LinkFailed(size_t target, const std::string& reason);
  void FailUnderWay(size_t target, const std::string& reason);
  void EndWithoutTransfer(size_t target, const std::string& reason, TTransferResult result = TTransferResult::Failed,
                          TTransferFailure failure = TTransferFailure::NotStarted);
  void AppendToHistory(const TTransferRecord& record);
  void Ended(size_t target, const TTransferRecord& record);
  TTransferRecord Describe(size_t target) const;
  std::string FailurePoint(const TRun& run) const;

  std::shared_ptr<const TDatabaseTable> table_;
  TRunSettings settings_;
  std::shared_ptr<TUdpEndpoint> udpEndpoint_;
  std::vector<std::unique_ptr<TRun>> runs_;
  size_t ended_ = 0;
  bool historyFailureSaid_ = false;
};
