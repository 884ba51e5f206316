#pragma once
// The ledger: every transfer to every scale, and from it what each scale holds, kept between runs
// in scaledb.sqlite in the state directory. Shared by the window and scaledb-send, also by a
// system service that points both at one state directory. A ledger problem never stops, fails or
// delays a transfer: it is said once, and the transfer goes on unrecorded.

#include "SessionSystem.h"
#include "TransferRecord.h"

#include <QDateTime>

#include <cstdint>
#include <map>
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
  enum class TAccess {
    // Opens or creates the ledger, reads the history in when it makes it, sets an unreadable
    // file aside and starts a new one.
    Record,
    // Only reads (--status): makes, imports, sets aside and changes nothing; a ledger that is
    // missing, or not made yet, knows no scale.
    Read,
  };
  // The ledger in `stateDirectory` (a folder ending in '/', made when missing to record).
  explicit TLedger(const std::string& stateDirectory, TAccess access = TAccess::Record);
  ~TLedger();
  TLedger(const TLedger&) = delete;
  TLedger& operator=(const TLedger&) = delete;

  bool Usable() const { return db_ != nullptr; }
  const std::string& Path() const { return path_; }
  // What is to be said once: the ledger was set aside, cannot be used, or a write failed. Empty
  // once taken, and after that only a new kind of trouble is said.
  std::string TakeNotice();

  // A transfer that starts (its start command goes out): written at once, so a run that is killed
  // leaves it "never ended" and its scale "unknown: interrupted load". What End takes; 0 when
  // unrecorded.
  int64_t Begin(const TScaleRef& scale, const TTransferRecord& record);
  // Completes what Begin wrote; a transfer begun in a ledger that has been set aside since is
  // written whole into the one that took its place.
  void End(int64_t id, const TTransferRecord& record);
  // An attempt that never reached the scale (the link never opened, the lock was busy): it is
  // the scale's last attempt, and what the scale holds does not change.
  void RecordAttempt(const TScaleRef& scale, const TTransferRecord& record);

  std::optional<TScaleState> State(const std::string& key);
  // Every scale the ledger knows, by name.
  std::vector<TScaleState> States();
  // The last `count` transfers that reached a scale and failed attempts that did not, newest
  // first.
  std::vector<TTransferRecord> Latest(size_t count);

 private:
  struct TBegun {
    uint64_t Generation = 0;  // of the file it was written into
    int64_t Row = 0;
    TScaleRef Scale;
  };

  void Open();
  void OpenToRecord();
  void OpenToRead();
  void Connect();
  void StartAfresh(const std::string& reason);
  void SetAside(const std::string& reason);
  void Migrate();
  void FollowReplacedFile();
  int64_t Insert(const TScaleRef& scale, const TTransferRecord& record, bool reached, bool ended);
  void Note(const std::string& notice);
  std::string Trouble(const std::string& what, const std::string& why) const;
  template <typename Action>
  void Guarded(const char* what, Action action);

  std::string directory_;
  std::string path_;
  TAccess access_;
  std::unique_ptr<TSqliteDatabase> db_;
  // The file db_ has open, and how many files this ledger has opened: another program may set the
  // file aside and start a new one under its name.
  std::optional<TFileIdentity> file_;
  uint64_t generation_ = 0;
  std::map<int64_t, TBegun> begun_;
  int64_t lastBegun_ = 0;
  bool startedAfresh_ = false;
  std::string notice_;
  bool troubleSaid_ = false;
};

// Sets every scale's last attempt, last transfer that reached it and last success from the
// transfers recorded, as when an old history is read in.
void RebuildScales(TSqliteDatabase& db);

// "this file", "other content", "unknown: interrupted load", "never sent"; without a digest to
// compare with, the held digest's first 12 hex digits.
std::string HoldsText(const TScaleState& state, const std::string& digest);
