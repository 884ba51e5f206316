#include "Sqlite.h"

#include "Escape.h"

#include <sqlite3.h>

namespace {
// The file as an SQLite URI with its query; every byte of the path that a URI could misread is
// escaped.
std::string Uri(const std::string& path, const std::string& query) {
  return "file:" + Escaped(path, TEscape::Percent) + "?" + query;
}

const char kProbe[] = "SELECT count(*) FROM sqlite_master";

// The system's VFS, except that a -wal is only ever opened as it is, read-only: SQLite would make a
// missing one even for a read-only connection.
sqlite3_vfs* SystemVfs() {
  static sqlite3_vfs* const system = sqlite3_vfs_find(nullptr);
  return system;
}

int OpenWithoutMakingWal(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  if (flags & SQLITE_OPEN_WAL) flags = (flags & ~(SQLITE_OPEN_CREATE | SQLITE_OPEN_READWRITE)) | SQLITE_OPEN_READONLY;
  return SystemVfs()->xOpen(SystemVfs(), name, file, flags, outFlags);
}

const char kReadOnlyVfs[] = "scaledb-read-only";

void RegisterReadOnlyVfs() {
  static sqlite3_vfs vfs = [] {
    sqlite3_vfs copy = *SystemVfs();
    copy.pNext = nullptr;
    copy.zName = kReadOnlyVfs;
    copy.xOpen = OpenWithoutMakingWal;
    return copy;
  }();
  static const int registered = sqlite3_vfs_register(&vfs, 0);
  static_cast<void>(registered);
}
}  // namespace

bool ESqlite::Unreadable() const { return Code == SQLITE_CORRUPT || Code == SQLITE_NOTADB; }

bool ESqlite::CannotOpen() const { return Code == SQLITE_CANTOPEN; }

bool ESqlite::Busy() const { return Code == SQLITE_BUSY; }

// Read-only, a file that programs have open is read with their -wal as it is and their -shm only
// read (SQLite keeps the index in memory where there is none). A file without a -wal (no program
// has it open) is read alone: opening it as usual would make a -wal and a -shm owned by whoever
// reads.
TSqliteDatabase::TSqliteDatabase(const std::string& path, TAccess access) {
  if (access == TAccess::ReadWrite) {
    Connect(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    return;
  }
  RegisterReadOnlyVfs();
  try {
    Connect(Uri(path, "mode=ro&readonly_shm=1&vfs=" + std::string(kReadOnlyVfs)), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    Execute(kProbe);
  } catch (const ESqlite& error) {
    Close();
    if (!error.CannotOpen()) throw;
    Connect(Uri(path, "mode=ro&immutable=1"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    try {
      Execute(kProbe);
    } catch (const ESqlite&) {
      Close();
      throw;
    }
  }
}

void TSqliteDatabase::Connect(const std::string& name, int flags) {
  const int code = sqlite3_open_v2(name.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (code != SQLITE_OK) {
    const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
    Close();
    throw ESqlite(why, code & 0xFF);
  }
  sqlite3_extended_result_codes(db_, 0);
  sqlite3_busy_timeout(db_, kSqliteBusyTimeoutMs);
}

// Every statement goes before its database.
void TSqliteDatabase::Close() {
  cache_.clear();
  sqlite3_close(db_);
  db_ = nullptr;
}

TSqliteDatabase::~TSqliteDatabase() { Close(); }

void TSqliteDatabase::SetBusyTimeout(int milliseconds) { sqlite3_busy_timeout(db_, milliseconds); }

TSqliteStatement& TSqliteDatabase::Cached(const std::string& sql) {
  std::unique_ptr<TSqliteStatement>& statement = cache_[sql];
  if (!statement) statement = std::make_unique<TSqliteStatement>(Prepare(sql));
  else statement->Reset();
  return *statement;
}

void TSqliteDatabase::Fail(const std::string& what, int code) const {
  throw ESqlite(what + ": " + sqlite3_errmsg(db_), code & 0xFF);
}

void TSqliteDatabase::Execute(const std::string& sql) {
  char* message = nullptr;
  const int code = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  if (code == SQLITE_OK) return;
  const std::string why = message ? message : sqlite3_errstr(code);
  sqlite3_free(message);
  throw ESqlite(why, code & 0xFF);
}

TSqliteStatement TSqliteDatabase::Prepare(const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  const int code = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
  if (code != SQLITE_OK) Fail("cannot prepare \"" + sql.substr(0, 40) + "\"", code);
  return TSqliteStatement(*this, statement);
}

int64_t TSqliteDatabase::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

TSqliteStatement::~TSqliteStatement() { sqlite3_finalize(statement_); }

TSqliteStatement::TSqliteStatement(TSqliteStatement&& other) noexcept
    : database_(other.database_), statement_(other.statement_) {
  other.statement_ = nullptr;
}

void TSqliteStatement::Check(int code) const {
  if (code != SQLITE_OK) database_->Fail("cannot bind a value", code);
}

TSqliteStatement& TSqliteStatement::Bind(int index, const std::string& text) {
  Check(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
  return *this;
}

TSqliteStatement& TSqliteStatement::Bind(int index, int64_t number) {
  Check(sqlite3_bind_int64(statement_, index, number));
  return *this;
}

TSqliteStatement& TSqliteStatement::Bind(int index, double number) {
  Check(sqlite3_bind_double(statement_, index, number));
  return *this;
}

TSqliteStatement& TSqliteStatement::BindNull(int index) {
  Check(sqlite3_bind_null(statement_, index));
  return *this;
}

bool TSqliteStatement::Step() {
  const int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  sqlite3_reset(statement_);
  database_->Fail("cannot run a statement", code);
}

void TSqliteStatement::Run() {
  while (Step()) {
  }
  Reset();
}

void TSqliteStatement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

std::string TSqliteStatement::Text(int column) const { return OptionalText(column).value_or(""); }

std::optional<std::string> TSqliteStatement::OptionalText(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  if (!text) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
}

int64_t TSqliteStatement::Integer(int column) const { return sqlite3_column_int64(statement_, column); }

std::optional<int64_t> TSqliteStatement::OptionalInteger(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return Integer(column);
}

double TSqliteStatement::Real(int column) const { return sqlite3_column_double(statement_, column); }

TSqliteTransaction::TSqliteTransaction(TSqliteDatabase& database) : database_(database) {
  database_.Cached("BEGIN IMMEDIATE").Run();
}

TSqliteTransaction::~TSqliteTransaction() {
  if (done_) return;
  try {
    database_.Cached("ROLLBACK").Run();
  } catch (const ESqlite&) {
    // A failed statement may have rolled it back already.
  }
}

void TSqliteTransaction::Commit() {
  database_.Cached("COMMIT").Run();
  done_ = true;
}
