#pragma once
// The little of SQLite the ledger needs: a database and its prepared statements, each closed
// with its owner. Every failure is an ESqlite with SQLite's own words.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

class ESqlite : public std::runtime_error {
 public:
  ESqlite(const std::string& what, int code) : std::runtime_error(what), Code(code) {}
  int Code;  // the primary result code: SQLITE_CORRUPT, SQLITE_NOTADB, SQLITE_BUSY, ...
  // The file is not a database, or a damaged one.
  bool Unreadable() const;
  // The file, or one of its -wal and -shm, could not be opened.
  bool CannotOpen() const;
  // Another connection holds a lock it needs.
  bool Busy() const;
};

class TSqliteStatement;

// How long a statement waits for another connection's write lock before it fails as busy.
inline constexpr int kSqliteBusyTimeoutMs = 5000;

class TSqliteDatabase {
 public:
  enum class TAccess {
    // Opens or creates the file.
    ReadWrite,
    // Reads the file as it stands, with the -wal and -shm of the programs that have it open, and
    // makes or changes no file: not even those two.
    ReadOnly,
  };
  // Throws when the file cannot be opened; ReadOnly also when it cannot be read.
  explicit TSqliteDatabase(const std::string& path, TAccess access = TAccess::ReadWrite);
  ~TSqliteDatabase();
  TSqliteDatabase(const TSqliteDatabase&) = delete;
  TSqliteDatabase& operator=(const TSqliteDatabase&) = delete;

  // Runs statements that return no rows.
  void Execute(const std::string& sql);
  TSqliteStatement Prepare(const std::string& sql);
  // The statement prepared once and kept for the database's life, reset for new parameters.
  TSqliteStatement& Cached(const std::string& sql);
  int64_t LastInsertId() const;
  void SetBusyTimeout(int milliseconds);

 private:
  friend class TSqliteStatement;
  void Connect(const std::string& name, int flags);
  void Close();
  [[noreturn]] void Fail(const std::string& what, int code) const;
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, std::unique_ptr<TSqliteStatement>> cache_;
};

class TSqliteStatement {
 public:
  ~TSqliteStatement();
  TSqliteStatement(TSqliteStatement&& other) noexcept;
  TSqliteStatement(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(TSqliteStatement&&) = delete;

  // Parameters count from 1, as in SQL's ?1.
  TSqliteStatement& Bind(int index, const std::string& text);
  TSqliteStatement& Bind(int index, int64_t number);
  TSqliteStatement& Bind(int index, double number);
  TSqliteStatement& BindNull(int index);
  // Steps once: true while there is a row to read.
  bool Step();
  // Runs it to its end.
  void Run();
  // Ready for new parameters.
  void Reset();

  std::string Text(int column) const;
  std::optional<std::string> OptionalText(int column) const;
  int64_t Integer(int column) const;
  std::optional<int64_t> OptionalInteger(int column) const;
  double Real(int column) const;

 private:
  friend class TSqliteDatabase;
  TSqliteStatement(const TSqliteDatabase& database, sqlite3_stmt* statement)
      : database_(&database), statement_(statement) {}
  void Check(int code) const;

  const TSqliteDatabase* database_;
  sqlite3_stmt* statement_;
};

// A transaction that rolls back unless it is committed.
class TSqliteTransaction {
 public:
  explicit TSqliteTransaction(TSqliteDatabase& database);
  ~TSqliteTransaction();
  TSqliteTransaction(const TSqliteTransaction&) = delete;
  TSqliteTransaction& operator=(const TSqliteTransaction&) = delete;
  void Commit();

 private:
  TSqliteDatabase& database_;
  bool done_ = false;
};
