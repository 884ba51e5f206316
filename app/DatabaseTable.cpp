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

// Moves [from, to) down to `write`, dropping carriage returns; returns the new write position.
size_t MoveLine(std::string& bytes, size_t from, size_t to, size_t write) {
  char* base = bytes.data();
  const char* cr = static_cast<const char*>(std::memchr(base + from, kCarriageReturn, to - from));
  if (!cr) {
    if (write != from) std::memmove(base + write, base + from, to - from);
    return write + (to - from);
  }
  for (size_t i = from; i < to; ++i)
    if (base[i] != kCarriageReturn) base[write++] = base[i];
  return write;
}
}  // namespace

TDatabaseTable::TDatabaseTable() : TDatabaseTable(Empty(5, 5)) {}

TDatabaseTable TDatabaseTable::Empty(int rows, int columns) {
  TDatabaseTable table{TRaw{}};
  table.rowStart_.assign(static_cast<size_t>(rows) + 1, 0);
  table.columns_ = columns;
  return table;
}

TDatabaseTable TDatabaseTable::Parse(std::string bytes) {
  TDatabaseTable table{TRaw{}};
  table.rowStart_.push_back(0);
  size_t end = bytes.size();
  if (const void* eof = std::memchr(bytes.data(), kEndOfFile, end))
    end = static_cast<size_t>(static_cast<const char*>(eof) - bytes.data());

  size_t columns = 1;
  size_t write = 0;
  for (size_t read = 0; read < end;) {
    const void* lf = std::memchr(bytes.data() + read, kLineFeed, end - read);
    const size_t lineEnd = lf ? static_cast<size_t>(static_cast<const char*>(lf) - bytes.data()) : end;
    const size_t lineStart = write;
    write = MoveLine(bytes, read, lineEnd, write);
    read = lineEnd + 1;
    if (write == lineStart) continue;
    const auto fields = 1 + std::count(bytes.data() + lineStart, bytes.data() + write, kSeparator);
    columns = std::max(columns, static_cast<size_t>(fields));
    table.rowStart_.push_back(write);
  }
  if (table.rowStart_.size() == 1) table.rowStart_.push_back(0);
  bytes.resize(write);
  table.data_ = std::move(bytes);
  table.columns_ = static_cast<int>(columns);
  return table;
}

std::string_view TDatabaseTable::Line(int row) const {
  const size_t begin = rowStart_[static_cast<size_t>(row)];
  const size_t end = rowStart_[static_cast<size_t>(row) + 1];
  return std::string_view(data_).substr(begin, end - begin);
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

// Keeps only the complete lines of a read that stopped part-way.
void KeepCompleteLines(std::string& bytes) {
  const size_t lastLineFeed = bytes.rfind(kLineFeed);
  bytes.resize(lastLineFeed == std::string::npos ? 0 : lastLineFeed + 1);
}
}  // namespace

TDatabaseLoad LoadDatabaseFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EDatabaseFile(SystemErrorText("Cannot open file", path, errno));
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw EDatabaseFile(SystemErrorText("Cannot open file", path, EISDIR));
  }
  // Read straight into the buffer that becomes the table's storage.
  std::string bytes(std::max<size_t>(info.st_size > 0 ? static_cast<size_t>(info.st_size) + 1 : 0, 1 << 16), '\0');
  size_t size = 0;
  std::string readError;
  for (;;) {
    if (size == bytes.size()) bytes.resize(bytes.size() * 2);
    const ssize_t got = ::read(fd, bytes.data() + size, bytes.size() - size);
    if (got > 0) {
      size += static_cast<size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      readError = SystemErrorText("Read error in file", path, errno);
      bytes.resize(size);
      KeepCompleteLines(bytes);
      size = bytes.size();
      break;
    }
  }
  ::close(fd);
  bytes.resize(size);
  return TDatabaseLoad{TDatabaseTable::Parse(std::move(bytes)), readError};
}
