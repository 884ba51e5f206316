#include "MoCatalogue.h"

#include "TranslationError.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
constexpr uint32_t kMagic = 0x950412de;
constexpr uint32_t kSwappedMagic = 0xde120495;
constexpr size_t kHeaderSize = 20;
constexpr size_t kEntrySize = 8;

uint32_t LittleEndianWord(const unsigned char* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

uint32_t ByteSwapped(uint32_t word) { return __builtin_bswap32(word); }

std::string NotACatalogue(const std::string& path) { return "This file is not a valid GNU gettext mo file: " + path; }

class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd) : fd_(fd) {}
  ~TFileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};
}  // namespace

std::unique_ptr<TMoCatalogue> TMoCatalogue::Open(const std::string& path) {
  const TFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.Get() < 0) throw ETranslationError("Cannot open file " + path);
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
    throw ETranslationError("Cannot create memory map on file " + path);
  const size_t size = static_cast<size_t>(info.st_size);
  void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.Get(), 0);
  if (mapping == MAP_FAILED)
    throw ETranslationError("Cannot map file " + path + " into memory. Reason: " + std::strerror(errno));
  std::unique_ptr<TMoCatalogue> catalogue(new TMoCatalogue(static_cast<const unsigned char*>(mapping), size, true));
  catalogue->Validate(path);
  return catalogue;
}

std::unique_ptr<TMoCatalogue> TMoCatalogue::Read(const unsigned char* data, size_t size, const std::string& path) {
  std::unique_ptr<TMoCatalogue> catalogue(new TMoCatalogue(data, size, false));
  catalogue->Validate(path);
  return catalogue;
}

TMoCatalogue::TMoCatalogue(const unsigned char* data, size_t size, bool mapped)
    : data_(data), size_(size), mapped_(mapped) {}

TMoCatalogue::~TMoCatalogue() {
  if (mapped_) ::munmap(const_cast<unsigned char*>(data_), size_);
}

uint32_t TMoCatalogue::Word(size_t offset) const {
  const uint32_t word = LittleEndianWord(data_ + offset);
  return swapped_ ? ByteSwapped(word) : word;
}

// Every offset and length is checked once here, so lookups never read outside the mapping.
void TMoCatalogue::Validate(const std::string& path) {
  if (size_ < kHeaderSize) throw ETranslationError(NotACatalogue(path));
  const uint32_t magic = LittleEndianWord(data_);
  if (magic != kMagic && magic != kSwappedMagic) throw ETranslationError(NotACatalogue(path));
  swapped_ = magic == kSwappedMagic;
  count_ = Word(8);
  identifiersOffset_ = Word(12);
  translationsOffset_ = Word(16);
  for (const uint32_t table : {identifiersOffset_, translationsOffset_}) {
    if (uint64_t{table} + uint64_t{count_} * kEntrySize > size_) throw ETranslationError(NotACatalogue(path));
    for (uint32_t index = 0; index < count_; ++index)
      if (!EntryInside(table, index)) throw ETranslationError(NotACatalogue(path));
  }
}

bool TMoCatalogue::EntryInside(uint32_t tableOffset, uint32_t index) const {
  const size_t entry = size_t{tableOffset} + size_t{index} * kEntrySize;
  return uint64_t{Word(entry + 4)} + uint64_t{Word(entry)} <= size_;
}

std::string_view TMoCatalogue::Entry(uint32_t tableOffset, uint32_t index) const {
  const size_t entry = size_t{tableOffset} + size_t{index} * kEntrySize;
  return {reinterpret_cast<const char*>(data_) + Word(entry + 4), Word(entry)};
}

std::optional<std::string_view> TMoCatalogue::Find(std::string_view key) const {
  uint32_t low = 0;
  uint32_t high = count_;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    const int order = Entry(identifiersOffset_, middle).compare(key);
    if (order == 0) return Entry(translationsOffset_, middle);
    if (order < 0)
      low = middle + 1;
    else
      high = middle;
  }
  return std::nullopt;
}
