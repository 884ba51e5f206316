#include "DatabaseTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';
constexpr char kEndOfFile = 26;
constexpr char kSeparator = ';';

// Drops the carriage returns inside a line; returns its new length.
size_t DropCarriageReturns(char* line, size_t length) {
  size_t write = 0;
  for (size_t read = 0; read < length; ++read)
    if (line[read] != kCarriageReturn) line[write++] = line[read];
  return write;
}

constexpr uint64_t kLowSevenBits = 0x7F7F7F7F7F7F7F7FULL;
constexpr uint64_t EveryByte(char c) { return 0x0101010101010101ULL * static_cast<unsigned char>(c); }

// The high bit set in each byte of `word` that is zero, and no other bit.
uint64_t ZeroBytes(uint64_t word) { return ~(((word & kLowSevenBits) + kLowSevenBits) | word | kLowSevenBits); }

size_t CountMarkedBytes(uint64_t marks) { return static_cast<size_t>(((marks >> 7) * EveryByte(1)) >> 56); }

struct TLineScan {
  size_t End = 0;  // position of the line feed, or the end of the data
  size_t Separators = 0;
  size_t CarriageReturns = 0;
};

// Finds the end of the line that starts at `begin`, counting its separators and looking for
// carriage returns on the way, eight bytes at a time.
TLineScan ScanLine(const char* bytes, size_t begin, size_t end) {
  TLineScan scan;
  size_t i = begin;
  for (; i + 8 <= end; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    uint64_t keep = ~0ULL;
    const uint64_t lineFeeds = ZeroBytes(word ^ EveryByte(kLineFeed));
    if (lineFeeds) keep = (lineFeeds & -lineFeeds) - 1;  // the bytes before the first line feed
    scan.Separators += CountMarkedBytes(ZeroBytes(word ^ EveryByte(kSeparator)) & keep);
    scan.CarriageReturns += CountMarkedBytes(ZeroBytes(word ^ EveryByte(kCarriageReturn)) & keep);
    if (lineFeeds) {
      scan.End = i + static_cast<size_t>(__builtin_ctzll(lineFeeds)) / 8;
      return scan;
    }
  }
  for (; i < end && bytes[i] != kLineFeed; ++i) {
    scan.Separators += bytes[i] == kSeparator;
    scan.CarriageReturns += bytes[i] == kCarriageReturn;
  }
  scan.End = i;
  return scan;
}
}  // namespace

TDatabaseTable::TDatabaseTable() : TDatabaseTable(Empty(5, 5)) {}

TDatabaseTable TDatabaseTable::Empty(int rows, int columns) {
  TDatabaseTable table{TRaw{}};
  table.rows_.assign(static_cast<size_t>(rows), TRow{0, 0});
  table.columns_ = columns;
  return table;
}

TDatabaseTable TDatabaseTable::Parse(std::string_view bytes) {
  auto buffer = std::make_unique_for_overwrite<char[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), buffer.get());
  return Parse(std::move(buffer), bytes.size());
}

TDatabaseTable TDatabaseTable::Parse(std::unique_ptr<char[]> buffer, size_t size) {
  TDatabaseTable table{TRaw{}};
  char* const bytes = buffer.get();
  size_t end = size;
  if (const void* eof = std::memchr(bytes, kEndOfFile, end)) end = static_cast<size_t>(static_cast<const char*>(eof) - bytes);

  size_t columns = 1;
  for (size_t begin = 0; begin < end;) {
    const TLineScan scan = ScanLine(bytes, begin, end);
    size_t length = scan.End - begin;
    size_t carriageReturns = scan.CarriageReturns;
    if (length > 0 && bytes[begin + length - 1] == kCarriageReturn) {
      --length;
      --carriageReturns;
    }
    if (carriageReturns > 0) length = DropCarriageReturns(bytes + begin, length);
    if (length > 0) {
      columns = std::max(columns, scan.Separators + 1);
      table.rows_.push_back(TRow{begin, begin + length});
    }
    begin = scan.End + 1;
  }
  if (table.rows_.empty()) table.rows_.push_back(TRow{0, 0});
  table.data_ = std::move(buffer);
  table.dataSize_ = size;
  table.columns_ = static_cast<int>(columns);
  return table;
}

std::string_view TDatabaseTable::Line(int row) const {
  const TRow& line = rows_[static_cast<size_t>(row)];
  return std::string_view(data_.get() + line.Begin, line.End - line.Begin);
}

std::string_view TDatabaseTable::Cell(int column, int row) const {
  if (row < 0 || row >= RowCount() || column < 0 || column >= columns_) return {};
  std::string_view rest = Line(row);
  for (int c = 0; c < column; ++c) {
    const size_t separator = rest.find(kSeparator);
    if (separator == std::string_view::npos) return {};
    rest.remove_prefix(separator + 1);
  }
  return rest.substr(0, rest.find(kSeparator));
}

std::string TDatabaseTable::RowText(int row) const {
  if (row < 0 || row >= RowCount()) return {};
  const std::string_view line = Line(row);
  const auto fields = 1 + std::count(line.begin(), line.end(), kSeparator);
  std::string text(line);
  text.append(static_cast<size_t>(std::max<long>(0, columns_ - fields)), kSeparator);
  return text;
}

namespace {
std::string SystemErrorText(const std::string& what, const std::string& path, int error) {
  return what + " \"" + path + "\": " + std::strerror(error);
}

}  // namespace

TDatabaseLoad ReadDatabase(const TReadFunction& read, size_t sizeHint, const std::string& path) {
  // Read straight into the buffer that becomes the table's storage.
  size_t capacity = std::max<size_t>(sizeHint + 1, 1 << 16);
  auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
  size_t size = 0;
  std::string readError;
  for (;;) {
    if (size == capacity) {
      auto larger = std::make_unique_for_overwrite<char[]>(capacity * 2);
      std::memcpy(larger.get(), bytes.get(), size);
      bytes = std::move(larger);
      capacity *= 2;
    }
    const long got = read(bytes.get() + size, capacity - size);
    if (got > 0) {
      size += static_cast<size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      readError = SystemErrorText("Read error in file", path, errno);
      // Only the complete lines of a read that stopped part-way count.
      const std::string_view read_so_far(bytes.get(), size);
      const size_t lastLineFeed = read_so_far.rfind(kLineFeed);
      size = lastLineFeed == std::string_view::npos ? 0 : lastLineFeed + 1;
      break;
    }
  }
  return TDatabaseLoad{TDatabaseTable::Parse(std::move(bytes), size), readError};
}

TDatabaseLoad LoadDatabaseFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EDatabaseFile(SystemErrorText("Cannot open file", path, errno));
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw EDatabaseFile(SystemErrorText("Cannot open file", path, EISDIR));
  }
  const size_t sizeHint = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
  TDatabaseLoad load = ReadDatabase([fd](char* buffer, size_t size) { return static_cast<long>(::read(fd, buffer, size)); },
                                    sizeHint, path);
  ::close(fd);
  return load;
}
