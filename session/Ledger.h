#pragma once
// The ledger: every transfer to every scale, and from it what each scale holds, kept between runs
// in scaledb.sqlite in the state directory. Shared by the window and scaledb-send, also by a
// system service that points both at one state directory. A ledger problem never stops, fails or
// delays a transfer: it is said once, and the transfer goes on unrecorded.

#include "TransferRecord.h"

#include <QDateTime>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TSqliteDatabase;

inline constexpr const char kLedgerFileName[] = "scaledb.sqlite";

// One scale as the ledger keeps it: its key and the name it was last sent to under.
struct TScaleRef {
  std::string Key;
  std::string Name;
};

struct TScaleState {
  enum class THolds { NeverSent, Content, InterruptedLoad };
  std::string Key;
  std::string Name;
  std::string Link;
  THolds Holds = THolds::NeverSent;
  std::string Digest;  // what it holds, with THolds::Content; empty when an old record did not say
  int LastRecords = 0;  // records the scale acknowledged in the last transfer that reached it
  std::optional<QDateTime> LastSuccess;
  std::string LastSuccessProgram;
  std::optional<QDateTime> LastAttempt;
  TTransferResult LastResult = TTransferResult::NeverEnded;
  std::string LastReason;
};

class TLedger {
 public:
  // Opens (or creates) the ledger in `stateDirectory` (a folder ending in '/', made when missing).
  explicit TLedger(const std::string& stateDirectory);
  ~TLedger();
  TLedger(const TLedger&) = delete;
  TLedger& operator=(const TLedger&) = delete;

  bool Usable() const { return db_ != nullptr; }
  const std::string& Path() const { return path_; }
  // What is to be said once: the ledger was set aside, cannot be used, or a write failed. Empty
  // once taken, and after that only a new kind of trouble is said.
  std::string TakeNotice();

  // A transfer that starts (its start command goes out): written at once, so a run that is killed
  // leaves it "never ended" and its scale "unknown: interrupted load". Its id, 0 when unrecorded.
  int64_t Begin(const TScaleRef& scale, const TTransferRecord& record);
  void End(int64_t id, const TTransferRecord& record);
  // An attempt that never reached the scale (the link never opened, the lock was busy): it is
  // the scale's last attempt, and what the scale holds does not change.
  void RecordAttempt(const TScaleRef& scale, const TTransferRecord& record);

  std::optional<TScaleState> State(const std::string& key);
  // Every scale the ledger knows, by name.
  std::vector<TScaleState> States();
  // The last `count` transfers that reached a scale, newest first.
  std::vector<TTransferRecord> Latest(size_t count);

 private:
  void Open(const std::string& stateDirectory);
  void OpenFresh();
  void SetAside(const std::string& reason);
  void Migrate(const std::string& historyPath);
  void Note(const std::string& notice);
  template <typename Action>
  void Guarded(const char* what, Action action);

  std::string path_;
  std::unique_ptr<TSqliteDatabase> db_;
  std::string notice_;
  bool writeFailureSaid_ = false;
};

// Sets every scale's last attempt, last transfer that reached it and last success from the
// transfers recorded, as when an old history is read in.
void RebuildScales(TSqliteDatabase& db);

// "this file", "other content", "unknown: interrupted load", "never sent"; without a digest to
// compare with, the held digest's first 12 hex digits.
std::string HoldsText(const TScaleState& state, const std::string& digest);
