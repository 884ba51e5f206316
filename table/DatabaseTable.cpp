#include "DatabaseTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// One bit per byte of a 64-byte block for each byte the import looks for.
struct TBlockMarks {
  uint64_t LineFeeds = 0;
  uint64_t Separators = 0;
  uint64_t CarriageReturns = 0;
  uint64_t EndsOfFile = 0;
};

constexpr size_t kBlockSize = 64;

#if defined(__SSE2__)
uint64_t Marks16(__m128i bytes, char wanted, unsigned shift) {
  const auto equal = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(wanted));
  return static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(equal))) << shift;
}

TBlockMarks MarkBlock(const char* block) {
  TBlockMarks marks;
  for (unsigned part = 0; part < 4; ++part) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part));
    marks.LineFeeds |= Marks16(bytes, kLineFeed, 16 * part);
    marks.Separators |= Marks16(bytes, kSeparator, 16 * part);
    marks.CarriageReturns |= Marks16(bytes, kCarriageReturn, 16 * part);
    marks.EndsOfFile |= Marks16(bytes, kEndOfFile, 16 * part);
  }
  return marks;
}
#else
TBlockMarks MarkBlock(const char* block) {
  TBlockMarks marks;
  for (unsigned i = 0; i < kBlockSize; ++i) {
    const uint64_t bit = uint64_t{1} << i;
    if (block[i] == kLineFeed) marks.LineFeeds |= bit;
    if (block[i] == kSeparator) marks.Separators |= bit;
    if (block[i] == kCarriageReturn) marks.CarriageReturns |= bit;
    if (block[i] == kEndOfFile) marks.EndsOfFile |= bit;
  }
  return marks;
}
#endif

// The marks of the `count` bytes at `bytes`, fewer than a block, as if zeros followed them.
TBlockMarks MarkPartialBlock(const char* bytes, size_t count) {
  char block[kBlockSize] = {};
  std::memcpy(block, bytes, count);
  return MarkBlock(block);
}

uint64_t BitsBelow(unsigned bit) { return (uint64_t{1} << bit) - 1; }
}  // namespace

void TDatabaseTable::TRowStarts::Push(uint64_t start) {
  if (size_ % kBlockRows == 0) blocks_.push_back(std::make_unique_for_overwrite<uint64_t[]>(kBlockRows));
  blocks_[size_ / kBlockRows][size_ % kBlockRows] = start;
  ++size_;
}

// One pass over the bytes, a block at a time: the line feeds end the lines, and the separators
// and carriage returns are counted per line from running totals.
class TDatabaseTable::TParser {
 public:
  TParser(TDatabaseTable& table, char* bytes) : table_(table), bytes_(bytes) {}
  size_t Columns() const { return columns_; }
  size_t LineFeeds() const { return lineFeeds_; }

  // Takes the lines of [0, end); returns where the data ends (the first byte 26, or `end`).
  size_t Run(size_t end) {
    for (size_t block = 0; block < end; block += kBlockSize) {
      const size_t count = std::min(kBlockSize, end - block);
      TBlockMarks marks = count == kBlockSize ? MarkBlock(bytes_ + block) : MarkPartialBlock(bytes_ + block, count);
      if (count < kBlockSize) marks.EndsOfFile |= ~BitsBelow(static_cast<unsigned>(count));
      const bool last = marks.EndsOfFile != 0;
      if (last) {
        const unsigned stop = static_cast<unsigned>(__builtin_ctzll(marks.EndsOfFile));
        end = block + stop;
        marks.LineFeeds &= BitsBelow(stop);
        marks.Separators &= BitsBelow(stop);
        marks.CarriageReturns &= BitsBelow(stop);
      }
      TakeLineFeeds(block, marks);
      separators_ += static_cast<size_t>(__builtin_popcountll(marks.Separators));
      carriageReturns_ += static_cast<size_t>(__builtin_popcountll(marks.CarriageReturns));
      if (last) break;
    }
    FinishLine(end, separators_, carriageReturns_);
    return end;
  }

 private:
  void TakeLineFeeds(size_t block, const TBlockMarks& marks) {
    for (uint64_t lineFeeds = marks.LineFeeds; lineFeeds != 0; lineFeeds &= lineFeeds - 1) {
      const unsigned bit = static_cast<unsigned>(__builtin_ctzll(lineFeeds));
      const uint64_t before = BitsBelow(bit);
      FinishLine(block + bit, separators_ + static_cast<size_t>(__builtin_popcountll(marks.Separators & before)),
                 carriageReturns_ + static_cast<size_t>(__builtin_popcountll(marks.CarriageReturns & before)));
      lineBegin_ = block + bit + 1;
      ++lineFeeds_;
    }
  }

  // The line from lineBegin_ to `end`, given the running totals at its end.
  void FinishLine(size_t end, size_t separators, size_t carriageReturns) {
    const size_t begin = lineBegin_;
    size_t length = end - begin;
    size_t strayCarriageReturns = carriageReturns - carriageReturnsAtLineBegin_;
    const size_t lineSeparators = separators - separatorsAtLineBegin_;
    separatorsAtLineBegin_ = separators;
    carriageReturnsAtLineBegin_ = carriageReturns;
    if (length > 0 && bytes_[end - 1] == kCarriageReturn) {
      --length;
      --strayCarriageReturns;
    }
    if (strayCarriageReturns > 0) {
      // Rare: the line moves together, and a line feed after it marks its new end.
      length = DropCarriageReturns(bytes_ + begin, length);
      bytes_[begin + length] = kLineFeed;
    }
    if (length == 0) return;
    table_.rows_.Push(begin);
    columns_ = std::max(columns_, lineSeparators + 1);
  }

  TDatabaseTable& table_;
  char* const bytes_;
  size_t lineBegin_ = 0;
  size_t separators_ = 0;  // running totals up to the current block
  size_t carriageReturns_ = 0;
  size_t separatorsAtLineBegin_ = 0;
  size_t carriageReturnsAtLineBegin_ = 0;
  size_t columns_ = 1;
  size_t lineFeeds_ = 0;
};

TDatabaseTable::TDatabaseTable() : TDatabaseTable(Empty(5, 5)) {}

TDatabaseTable TDatabaseTable::Empty(int rows, int columns) {
  TDatabaseTable table{TRaw{}};
  for (int row = 0; row < rows; ++row) table.rows_.Push(0);
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
  TParser parser(table, buffer.get());
  table.dataEnd_ = parser.Run(size);
  table.lineFeedsBeforeEnd_ = parser.LineFeeds();
  if (table.rows_.Size() == 0) table.rows_.Push(table.dataEnd_);
  table.columns_ = static_cast<int>(parser.Columns());
  table.data_ = std::move(buffer);
  table.dataSize_ = size;
  return table;
}

TDatabaseTable::TUnread TDatabaseTable::Unread() const {
  if (dataEnd_ >= dataSize_) return {};
  return {lineFeedsBeforeEnd_ + 1, std::string_view(data_.get() + dataEnd_ + 1, dataSize_ - dataEnd_ - 1)};
}

std::string_view TDatabaseTable::Line(int row) const {
  const size_t begin = rows_[static_cast<size_t>(row)];
  if (begin >= dataEnd_) return {};
  const char* const line = data_.get() + begin;
  const void* lineFeed = std::memchr(line, kLineFeed, dataEnd_ - begin);
  size_t length = lineFeed ? static_cast<size_t>(static_cast<const char*>(lineFeed) - line) : dataEnd_ - begin;
  if (length > 0 && line[length - 1] == kCarriageReturn) --length;
  return std::string_view(line, length);
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

namespace {
void RefuseSource(int fd, const std::string& path, const std::string& reason) {
  ::close(fd);
  throw EDatabaseFile("Cannot open file \"" + path + "\": " + reason);
}

// Opened without waiting, so that neither a FIFO without a writer nor a device holds anything up;
// what is not a regular file or an accepted pipe is refused before a byte is read.
int OpenSource(const std::string& path, TDatabaseSources sources, struct stat& info) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw EDatabaseFile(SystemErrorText("Cannot open file", path, errno));
  if (::fstat(fd, &info) != 0) RefuseSource(fd, path, std::strerror(errno));
  if (S_ISDIR(info.st_mode)) RefuseSource(fd, path, std::strerror(EISDIR));
  if (S_ISREG(info.st_mode)) return fd;
  const bool pipes = sources == TDatabaseSources::RegularFileOrPipe;
  if (!pipes || !S_ISFIFO(info.st_mode)) RefuseSource(fd, path, pipes ? "not a regular file or a pipe" : "not a regular file");
  // A pipe is read as a reader that waits for its writer, as a plain open would have.
  const int waiting = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (waiting < 0) RefuseSource(fd, path, std::strerror(errno));
  // The name may have been given to something else between the two opens.
  struct stat reopened {};
  const bool same = ::fstat(waiting, &reopened) == 0 && reopened.st_dev == info.st_dev && reopened.st_ino == info.st_ino;
  ::close(fd);
  if (!same) RefuseSource(waiting, path, "it was replaced while being opened");
  return waiting;
}
}  // namespace

TDatabaseLoad LoadDatabaseFile(const std::string& path, TDatabaseSources sources) {
  struct stat info {};
  const int fd = OpenSource(path, sources, info);
  const size_t sizeHint = S_ISREG(info.st_mode) && info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
  try {
    TDatabaseLoad load = ReadDatabase(
        [fd](char* buffer, size_t size) { return static_cast<long>(::read(fd, buffer, size)); }, sizeHint, path);
    ::close(fd);
    return load;
  } catch (const std::bad_alloc&) {
    ::close(fd);
    throw EDatabaseFile("Not enough memory to read file \"" + path + "\"");
  }
}
