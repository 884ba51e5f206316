#pragma once
// The database table: single-byte cell texts exactly as read from a semicolon-separated file.
// Rows are kept as their line bytes in the buffer the file was read into, with the start of each
// line beside it; cells are cut out on demand, so a million-row file costs little more than its
// own size.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class TDatabaseTable {
 public:
  // 5 rows x 5 columns of empty cells, the table before any file is opened.
  TDatabaseTable();
  static TDatabaseTable Empty(int rows, int columns);

  int RowCount() const { return static_cast<int>(rows_.Size()); }
  int ColumnCount() const { return columns_; }
  std::string_view Cell(int column, int row) const;
  // The row's cells over every column of the table, with ";" before each but the first.
  std::string RowText(int row) const;
  // The row's bytes as the file holds them, without the line end.
  std::string_view Line(int row) const;
  // Heap bytes the table holds.
  size_t MemoryBytes() const { return dataSize_ + rows_.MemoryBytes(); }
  // What a byte 26 left unread: the line it stands on (from 1) and the bytes after it, none when
  // no byte 26 ends the data.
  struct TUnread {
    size_t Line = 0;
    std::string_view Bytes;
  };
  TUnread Unread() const;

  // Builds the table from file bytes: LF or CR LF line ends, CR elsewhere dropped, byte 26 ends
  // the data, empty lines skipped, fields split at ";" without quoting or trimming.
  static TDatabaseTable Parse(std::string_view bytes);
  // The same over a buffer that the table then keeps as its storage.
  static TDatabaseTable Parse(std::unique_ptr<char[]> buffer, size_t size);

 private:
  // Where each row's line starts, in blocks of a fixed size: growing never copies and wastes at
  // most one block.
  class TRowStarts {
   public:
    void Push(uint64_t start);
    uint64_t operator[](size_t row) const { return blocks_[row / kBlockRows][row % kBlockRows]; }
    size_t Size() const { return size_; }
    size_t MemoryBytes() const { return blocks_.size() * kBlockRows * sizeof(uint64_t); }

   private:
    static constexpr size_t kBlockRows = 4096;
    std::vector<std::unique_ptr<uint64_t[]>> blocks_;
    size_t size_ = 0;
  };
  class TParser;

  struct TRaw {};
  explicit TDatabaseTable(TRaw) {}

  std::unique_ptr<char[]> data_;  // the file's bytes; rows point into it
  size_t dataSize_ = 0;
  size_t dataEnd_ = 0;  // the end of the table's data: the first byte 26 or the end of the bytes
  size_t lineFeedsBeforeEnd_ = 0;
  TRowStarts rows_;
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

// Reads up to `size` bytes into `buffer`: the count read, 0 at the end, -1 with errno on failure.
using TReadFunction = std::function<long(char* buffer, size_t size)>;

// Reads a whole database through `read`; a read error keeps the complete lines read so far.
TDatabaseLoad ReadDatabase(const TReadFunction& read, size_t sizeHint, const std::string& path);

// What may be read as a database besides a regular file: a pipe (a FIFO, a shell's <(...)) ends
// only when its writer ends it, so only a caller that may wait that long accepts one.
enum class TDatabaseSources { RegularFile, RegularFileOrPipe };

// Opens and reads a database file; throws EDatabaseFile when it cannot be opened, is neither a
// regular file nor an accepted pipe (a device, a directory), or does not fit into memory. A read
// error part-way keeps the complete lines read so far and names the error in ReadError.
TDatabaseLoad LoadDatabaseFile(const std::string& path,
                               TDatabaseSources sources = TDatabaseSources::RegularFileOrPipe);
