#pragma once
// A GNU gettext catalogue (.mo) mapped read-only; lookups read the mapping without locking.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class TMoCatalogue {
 public:
  // Maps and validates the file; throws ETranslationError with the user-facing message.
  static std::unique_ptr<TMoCatalogue> Open(const std::string& path);
  // Validates catalogue bytes that outlive the catalogue; `path` names them in the message.
  static std::unique_ptr<TMoCatalogue> Read(const unsigned char* data, size_t size, const std::string& path);
  ~TMoCatalogue();
  TMoCatalogue(const TMoCatalogue&) = delete;
  TMoCatalogue& operator=(const TMoCatalogue&) = delete;

  // The translation of `key`, found by binary search over the sorted identifiers.
  std::optional<std::string_view> Find(std::string_view key) const;
  uint32_t Count() const { return count_; }

 private:
  TMoCatalogue(const unsigned char* data, size_t size, bool mapped);
  uint32_t Word(size_t offset) const;
  std::string_view Entry(uint32_t tableOffset, uint32_t index) const;
  bool EntryInside(uint32_t tableOffset, uint32_t index) const;
  void Validate(const std::string& path);

  const unsigned char* data_;
  size_t size_;
  bool mapped_;
  bool swapped_ = false;
  uint32_t count_ = 0;
  uint32_t identifiersOffset_ = 0;
  uint32_t translationsOffset_ = 0;
};
