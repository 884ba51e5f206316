#pragma once
// The database table: single-byte cell texts exactly as read from a semicolon-separated file.
// Rows are kept as their line bytes in one buffer; cells are cut out on demand, so a
// million-row file costs little more than its own size.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class TDatabaseTable {
 public:
  // 5 rows x 5 columns of empty cells, the table before any file is opened.
  TDatabaseTable();
  static TDatabaseTable Empty(int rows, int columns);

  int RowCount() const { return static_cast<int>(rowStart_.size()) - 1; }
  int ColumnCount() const { return columns_; }
  std::string_view Cell(int column, int row) const;
  // The row's cells over every column of the table, with ";" before each but the first.
  std::string RowText(int row) const;

  // Builds the table from file bytes: LF or CR LF line ends, CR elsewhere dropped, byte 26 ends
  // the data, empty lines skipped, fields split at ";" without quoting or trimming.
  static TDatabaseTable Parse(std::string bytes);

 private:
  struct TRaw {};
  explicit TDatabaseTable(TRaw) {}
  std::string_view Line(int row) const;

  std::string data_;               // the rows' line bytes, one after another
  std::vector<uint64_t> rowStart_;  // offset of each row in data_, plus the end
  int columns_ = 1;
};

class EDatabaseFile : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TDatabaseLoad {
  TDatabaseTable Table;
  std::string ReadError;  // non-empty when reading stopped part-way
};

// Opens and reads a database file; throws EDatabaseFile when it cannot be opened. A read error
// part-way keeps the complete lines read so far and names the error in ReadError.
TDatabaseLoad LoadDatabaseFile(const std::string& path);
