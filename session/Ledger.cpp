#include "Ledger.h"

#include "History.h"
#include "Link.h"
#include "ScaleKey.h"
#include "SessionSystem.h"
#include "Sqlite.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <utility>

namespace {
// Making the ledger reads in the whole history before it (about 20 s for 700,000 lines): a program
// that opens it meanwhile waits for it to be made rather than giving up on it.
constexpr int kMigrationBusyTimeoutMs = 120000;
constexpr auto kBusyRetryGap = std::chrono::milliseconds(10);
// Set-aside names of one second: "-2", "-3", ... after the first.
constexpr int kMaxAsideNames = 100;

const char kSchema[] = R"(
CREATE TABLE transfers(
  id INTEGER PRIMARY KEY,
  scale TEXT NOT NULL,
  name TEXT NOT NULL,
  link TEXT NOT NULL,
  started TEXT NOT NULL,
  started_ms INTEGER NOT NULL,
  ended_ms INTEGER,
  program TEXT NOT NULL,
  user TEXT NOT NULL,
  host TEXT NOT NULL,
  file TEXT NOT NULL,
  kind TEXT NOT NULL,
  rows INTEGER NOT NULL,
  digest TEXT NOT NULL,
  reached INTEGER NOT NULL,
  result TEXT,
  records_sent INTEGER NOT NULL DEFAULT 0,
  resends INTEGER NOT NULL DEFAULT 0,
  unexpected_answers INTEGER NOT NULL DEFAULT 0,
  ignored_datagrams INTEGER NOT NULL DEFAULT 0,
  seconds REAL NOT NULL DEFAULT 0,
  reason TEXT NOT NULL DEFAULT '');
CREATE INDEX transfers_of_scale ON transfers(scale, id);
CREATE TABLE scales(
  scale TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  link TEXT NOT NULL,
  last_attempt INTEGER,
  last_reached INTEGER,
  last_success INTEGER);
)";

const char kInsertTransfer[] = R"(
INSERT INTO transfers(scale, name, link, started, started_ms, ended_ms, program, user, host, file, kind, rows,
                      digest, reached, result, records_sent, resends, unexpected_answers, ignored_datagrams,
                      seconds, reason)
VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21))";

const char kScaleAttempted[] = R"(
INSERT INTO scales(scale, name, link, last_attempt, last_reached) VALUES(?1, ?2, ?3, ?4, ?5)
ON CONFLICT(scale) DO UPDATE SET name = excluded.name, link = excluded.link, last_attempt = excluded.last_attempt,
  last_reached = coalesce(excluded.last_reached, last_reached))";

const char kEndTransfer[] = R"(
UPDATE transfers SET ended_ms = ?2, result = ?3, records_sent = ?4, resends = ?5, unexpected_answers = ?6,
  ignored_datagrams = ?7, seconds = ?8, reason = ?9 WHERE id = ?1)";

const char kScaleSent[] = "UPDATE scales SET last_success = ?1 WHERE scale = (SELECT scale FROM transfers WHERE id = ?1)";

const char kStates[] = R"(
SELECT s.scale, s.name, s.link, reached.result, reached.digest, ok.ended_ms, ok.program,
       attempt.started_ms, attempt.result, attempt.reason, reached.records_sent
FROM scales s
LEFT JOIN transfers reached ON reached.id = s.last_reached
LEFT JOIN transfers ok ON ok.id = s.last_success
LEFT JOIN transfers attempt ON attempt.id = s.last_attempt)";

const char kLatest[] = R"(
SELECT started, program, file, link, kind, rows, records_sent, resends, unexpected_answers, ignored_datagrams,
       coalesce(result, 'never ended'), seconds, reason, digest
FROM transfers WHERE reached = 1 OR result = 'failed' ORDER BY id DESC LIMIT ?1)";

QDateTime FromMs(int64_t ms) { return QDateTime::fromMSecsSinceEpoch(ms); }

std::string Stamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return stamp;
}

bool Exists(const std::string& path) { return QFileInfo::exists(QString::fromLocal8Bit(path.c_str())); }

// The name a damaged ledger is kept under: never one that is taken.
std::string AsideName(const std::string& path, const std::string& stamp, int attempt) {
  return path + ".unreadable-" + stamp + (attempt > 1 ? "-" + std::to_string(attempt) : "");
}

// Who and where, once per process: they do not change while it runs.
const std::string& User() {
  static const std::string user = UserName();
  return user;
}

const std::string& Host() {
  static const std::string host = HostName();
  return host;
}

// A transfer that reached its scale starts without its end; an attempt that did not, and a line of
// the old history, come ended.
void BindTransfer(TSqliteStatement& insert, const TScaleRef& scale, const TTransferRecord& record, bool reached,
                  bool ended) {
  const int64_t started = record.Started.toMSecsSinceEpoch();
  insert.Bind(1, scale.Key).Bind(2, scale.Name).Bind(3, record.Link);
  insert.Bind(4, HistoryTime(record.Started)).Bind(5, started);
  if (ended) insert.Bind(6, started + static_cast<int64_t>(record.Seconds * 1000));
  else insert.BindNull(6);
  insert.Bind(7, record.Program).Bind(8, User()).Bind(9, Host()).Bind(10, record.File).Bind(11, record.Kind);
  insert.Bind(12, static_cast<int64_t>(record.Rows)).Bind(13, record.Digest).Bind(14, static_cast<int64_t>(reached));
  if (ended) insert.Bind(15, std::string(ResultText(record.Result)));
  else insert.BindNull(15);
  insert.Bind(16, static_cast<int64_t>(record.RecordsSent)).Bind(17, static_cast<int64_t>(record.Resends));
  insert.Bind(18, static_cast<int64_t>(record.UnexpectedAnswers)).Bind(19, static_cast<int64_t>(record.IgnoredDatagrams));
  insert.Bind(20, record.Seconds).Bind(21, record.Reason);
}

// The scale an old history line's link names, resolved as a target naming it now would be.
class TKeysOfLinks {
 public:
  std::string KeyOf(const std::string& link) {
    const auto found = keys_.find(link);
    if (found != keys_.end()) return found->second;
    const std::optional<TLinkSettings> settings = LinkSettingsFromName(link);
    return keys_[link] = settings ? ScaleKeyOf(*settings) : link;
  }

 private:
  std::map<std::string, std::string> keys_;
};

// transfers.jsonl as it stood: each of its transfers reached its scale.
void ImportHistory(TSqliteDatabase& db, const std::string& historyPath) {
  std::ifstream file(historyPath);
  if (!file) return;
  TSqliteStatement insert = db.Prepare(kInsertTransfer);
  TKeysOfLinks keys;
  TTransferRecord record;
  for (std::string line; std::getline(file, line);) {
    if (!ParseHistoryLine(line, record)) continue;
    BindTransfer(insert, {keys.KeyOf(record.Link), record.Link}, record, true, true);
    insert.Run();
  }
  RebuildScales(db);
}

TScaleState ReadState(const TSqliteStatement& row) {
  TScaleState state;
  state.Key = row.Text(0);
  state.Name = row.Text(1);
  state.Link = row.Text(2);
  if (const std::optional<std::string> digest = row.OptionalText(4)) {
    const bool sent = ResultFromText(row.Text(3)) == TTransferResult::Sent;
    state.Holds = sent ? TScaleState::THolds::Content : TScaleState::THolds::InterruptedLoad;
    state.Digest = *digest;
    state.LastRecords = static_cast<int>(row.Integer(10));
  }
  if (const std::optional<int64_t> sent = row.OptionalInteger(5)) state.LastSuccess = FromMs(*sent);
  state.LastSuccessProgram = row.Text(6);
  if (const std::optional<int64_t> attempt = row.OptionalInteger(7)) {
    state.LastAttempt = FromMs(*attempt);
    state.LastResult = ResultFromText(row.Text(8)).value_or(TTransferResult::NeverEnded);
    state.LastReason = row.Text(9);
  }
  return state;
}

// The ledger as first made: its tables, and the history that came before it.
void MakeFirstSchema(TSqliteDatabase& db, const std::string& historyPath) {
  db.Execute(kSchema);
  ImportHistory(db, historyPath);
}

// The migration path: each step brings the schema from the version before it to its own.
struct TMigrationStep {
  int64_t Version;
  void (*Run)(TSqliteDatabase& db, const std::string& historyPath);
};
constexpr TMigrationStep kMigrationPath[] = {{1, MakeFirstSchema}};
constexpr int64_t kSchemaVersion = kMigrationPath[std::size(kMigrationPath) - 1].Version;

int64_t SchemaVersion(TSqliteDatabase& db) {
  TSqliteStatement read = db.Prepare("PRAGMA user_version");
  read.Step();
  return read.Integer(0);
}

// SQLite waits for another connection's lock on its own, but not to turn a new file into WAL
// mode while another program does the same: that fails at once as busy.
void WaitingWhileBusy(TSqliteDatabase& db, const std::string& sql) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMigrationBusyTimeoutMs);
  for (;;) {
    try {
      db.Execute(sql);
      return;
    } catch (const ESqlite& error) {
      if (!error.Busy() || std::chrono::steady_clock::now() >= deadline) throw;
    }
    std::this_thread::sleep_for(kBusyRetryGap);
  }
}

// A newer program's ledger is left alone: this one cannot know what its tables mean.
void RefuseNewer(int64_t version) {
  if (version > kSchemaVersion)
    throw ESqlite("it was made by a newer version of this program (schema " + std::to_string(version) + ")", 0);
}
}  // namespace

TLedger::TLedger(const std::string& stateDirectory, TAccess access)
    : directory_(stateDirectory), path_(stateDirectory + kLedgerFileName), access_(access) {
  try {
    Open();
  } catch (const ESqlite& error) {
    troubleSaid_ = true;
    Note(Trouble(access_ == TAccess::Read ? "cannot be read" : "cannot be used", error.what()));
  }
}

TLedger::~TLedger() = default;

std::string TLedger::TakeNotice() { return std::exchange(notice_, std::string()); }

void TLedger::Note(const std::string& notice) {
  if (notice_.empty()) notice_ = notice;
}

std::string TLedger::Trouble(const std::string& what, const std::string& why) const {
  const char* consequence = access_ == TAccess::Record ? " Transfers go on unrecorded there." : "";
  return "The ledger " + path_ + " " + what + ": " + why + "." + consequence;
}

// A file found damaged while in use is set aside once, and what was being done is done again in
// the new one.
template <typename Action>
void TLedger::Guarded(const char* what, Action action) {
  try {
    FollowReplacedFile();
    if (!db_) return;
    try {
      action();
    } catch (const ESqlite& error) {
      if (!error.Unreadable() || access_ == TAccess::Read || std::exchange(startedAfresh_, true)) throw;
      StartAfresh(error.what());
      action();
    }
  } catch (const ESqlite& error) {
    if (std::exchange(troubleSaid_, true)) return;
    Note(Trouble(what, error.what()));
  }
}

// Nothing half open is kept: a ledger that fails to open is not used.
void TLedger::Open() {
  try {
    if (access_ == TAccess::Read)
      OpenToRead();
    else
      OpenToRecord();
  } catch (const ESqlite&) {
    db_.reset();
    throw;
  }
}

// Only a file SQLite cannot read as a database is set aside; a busy, forbidden or full one is
// left as it is.
void TLedger::OpenToRecord() {
  QDir().mkpath(QString::fromLocal8Bit(directory_.c_str()));
  try {
    Connect();
    Migrate();
  } catch (const ESqlite& error) {
    if (!error.Unreadable()) throw;
    StartAfresh(error.what());
  }
}

// A ledger not made yet (schema 0) knows no scale, as a missing one.
void TLedger::OpenToRead() {
  if (!Exists(path_)) return;
  db_ = std::make_unique<TSqliteDatabase>(path_, TSqliteDatabase::TAccess::ReadOnly);
  const int64_t version = SchemaVersion(*db_);
  RefuseNewer(version);
  if (version == 0) db_.reset();
}

// The file opened is the one its name named before and after: one set aside meanwhile by another
// program is not taken for the new one.
void TLedger::Connect() {
  db_.reset();
  for (int attempt = 0;; ++attempt) {
    const std::optional<TFileIdentity> before = FileIdentity(path_);
    db_ = std::make_unique<TSqliteDatabase>(path_);
    file_ = FileIdentity(path_);
    if (!before || before == file_ || attempt == 2) break;
  }
  ++generation_;
  WaitingWhileBusy(*db_, "PRAGMA journal_mode = WAL");
  db_->Execute("PRAGMA synchronous = NORMAL");
  db_->Execute("SELECT count(*) FROM sqlite_master");
}

void TLedger::StartAfresh(const std::string& reason) {
  db_.reset();
  SetAside(reason);
  Connect();
  Migrate();
}

// Nothing recorded is thrown away: the file stays beside the new one under a name no other file
// has. A file another program has set aside already is left to it.
void TLedger::SetAside(const std::string& reason) {
  if (FileIdentity(path_) != file_) return;
  const std::string stamp = Stamp();
  std::string kept;
  for (int attempt = 1;; ++attempt) {
    kept = AsideName(path_, stamp, attempt);
    if (RenameWithoutReplacing(path_, kept)) break;
    if (errno == ENOENT) return;
    if (errno != EEXIST || attempt == kMaxAsideNames)
      throw ESqlite("it cannot be read (" + reason + ") and cannot be set aside: " + std::strerror(errno), 0);
  }
  for (const char* companion : {"-wal", "-shm"}) RenameWithoutReplacing(path_ + companion, kept + companion);
  Note("The ledger " + path_ + " could not be read (" + reason + "); it is kept as " + kept +
       " and a new one is started.");
}

// The version is read again inside the write transaction: of programs that open a new ledger at
// once, one makes it while the others wait, and they find it made.
void TLedger::Migrate() {
  const int64_t found = SchemaVersion(*db_);
  RefuseNewer(found);
  if (found == kSchemaVersion) return;
  db_->SetBusyTimeout(kMigrationBusyTimeoutMs);
  TSqliteTransaction transaction(*db_);
  const int64_t version = SchemaVersion(*db_);
  RefuseNewer(version);
  for (const TMigrationStep& step : kMigrationPath)
    if (step.Version > version) step.Run(*db_, directory_ + "transfers.jsonl");
  db_->Execute("PRAGMA user_version = " + std::to_string(kSchemaVersion));
  transaction.Commit();
  db_->SetBusyTimeout(kSqliteBusyTimeoutMs);
}

// A window that runs for days would otherwise go on writing into a file another program has set
// aside, where no one reads it.
void TLedger::FollowReplacedFile() {
  if (!db_ || access_ == TAccess::Read || FileIdentity(path_) == file_) return;
  Open();
}

int64_t TLedger::Insert(const TScaleRef& scale, const TTransferRecord& record, bool reached, bool ended) {
  TSqliteTransaction transaction(*db_);
  TSqliteStatement& insert = db_->Cached(kInsertTransfer);
  BindTransfer(insert, scale, record, reached, ended);
  insert.Run();
  const int64_t row = db_->LastInsertId();
  TSqliteStatement& attempted = db_->Cached(kScaleAttempted).Bind(1, scale.Key).Bind(2, scale.Name).Bind(3, record.Link);
  attempted.Bind(4, row);
  if (reached) attempted.Bind(5, row);
  else attempted.BindNull(5);
  attempted.Run();
  if (reached && ended && record.Result == TTransferResult::Sent) db_->Cached(kScaleSent).Bind(1, row).Run();
  transaction.Commit();
  return row;
}

int64_t TLedger::Begin(const TScaleRef& scale, const TTransferRecord& record) {
  int64_t id = 0;
  Guarded("cannot be written", [&] {
    const int64_t row = Insert(scale, record, true, false);
    id = ++lastBegun_;
    begun_[id] = {generation_, row, scale};
  });
  return id;
}

void TLedger::End(int64_t id, const TTransferRecord& record) {
  const auto found = begun_.find(id);
  if (found == begun_.end()) return;
  const TBegun begun = found->second;
  begun_.erase(found);
  Guarded("cannot be written", [&] {
    if (begun.Generation != generation_) {
      Insert(begun.Scale, record, true, true);
      return;
    }
    TSqliteTransaction transaction(*db_);
    const int64_t ended = record.Started.toMSecsSinceEpoch() + static_cast<int64_t>(record.Seconds * 1000);
    db_->Cached(kEndTransfer)
        .Bind(1, begun.Row).Bind(2, ended).Bind(3, std::string(ResultText(record.Result)))
        .Bind(4, static_cast<int64_t>(record.RecordsSent))
        .Bind(5, static_cast<int64_t>(record.Resends)).Bind(6, static_cast<int64_t>(record.UnexpectedAnswers))
        .Bind(7, static_cast<int64_t>(record.IgnoredDatagrams)).Bind(8, record.Seconds).Bind(9, record.Reason)
        .Run();
    if (record.Result == TTransferResult::Sent) db_->Cached(kScaleSent).Bind(1, begun.Row).Run();
    transaction.Commit();
  });
}

void TLedger::RecordAttempt(const TScaleRef& scale, const TTransferRecord& record) {
  Guarded("cannot be written", [&] { Insert(scale, record, false, true); });
}

std::optional<TScaleState> TLedger::State(const std::string& key) {
  std::optional<TScaleState> state;
  Guarded("cannot be read", [&] {
    TSqliteStatement& row = db_->Cached(std::string(kStates) + " WHERE s.scale = ?1");
    row.Bind(1, key);
    if (row.Step()) state = ReadState(row);
    // A statement left on its row would hold its snapshot of the ledger.
    row.Reset();
  });
  return state;
}

std::vector<TScaleState> TLedger::States() {
  std::vector<TScaleState> states;
  Guarded("cannot be read", [&] {
    TSqliteStatement row = db_->Prepare(std::string(kStates) + " ORDER BY s.name, s.scale");
    while (row.Step()) states.push_back(ReadState(row));
  });
  return states;
}

std::vector<TTransferRecord> TLedger::Latest(size_t count) {
  std::vector<TTransferRecord> records;
  Guarded("cannot be read", [&] {
    TSqliteStatement row = db_->Prepare(kLatest);
    row.Bind(1, static_cast<int64_t>(count));
    while (row.Step()) {
      TTransferRecord record;
      record.Started = QDateTime::fromString(QString::fromStdString(row.Text(0)), Qt::ISODateWithMs);
      record.Program = row.Text(1);
      record.File = row.Text(2);
      record.Link = row.Text(3);
      record.Kind = row.Text(4);
      record.Rows = static_cast<int>(row.Integer(5));
      record.RecordsSent = static_cast<int>(row.Integer(6));
      record.Resends = static_cast<int>(row.Integer(7));
      record.UnexpectedAnswers = static_cast<int>(row.Integer(8));
      record.IgnoredDatagrams = static_cast<int>(row.Integer(9));
      record.Result = ResultFromText(row.Text(10)).value_or(TTransferResult::NeverEnded);
      record.Seconds = row.Real(11);
      record.Reason = row.Text(12);
      record.Digest = row.Text(13);
      records.push_back(std::move(record));
    }
  });
  return records;
}

void RebuildScales(TSqliteDatabase& db) {
  db.Execute(R"(
DELETE FROM scales;
INSERT INTO scales(scale, name, link, last_attempt, last_reached, last_success)
SELECT t.scale, t.name, t.link, t.id, last.reached, last.sent
FROM (SELECT scale, max(id) AS id, max(CASE WHEN reached = 1 THEN id END) AS reached,
             max(CASE WHEN reached = 1 AND result = 'sent' THEN id END) AS sent
      FROM transfers GROUP BY scale) last
JOIN transfers t ON t.id = last.id)");
}

std::string HoldsText(const TScaleState& state, const std::string& digest) {
  switch (state.Holds) {
    case TScaleState::THolds::NeverSent: return "never sent";
    case TScaleState::THolds::InterruptedLoad: return "unknown: interrupted load";
    case TScaleState::THolds::Content:
      if (!digest.empty()) return state.Digest == digest ? "this file" : "other content";
      return state.Digest.empty() ? "content of an older record" : state.Digest.substr(0, 12);
  }
  return {};
}
