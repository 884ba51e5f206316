#pragma once
// Builds GNU gettext catalogues in memory, in either byte order, for tests and benchmarks.

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TMoEntry {
  std::string Id;
  std::string Text;
};

struct TMoLayout {
  bool Swapped = false;  // write every word in the other byte order
  bool Sorted = true;    // sort the identifiers, as msgfmt does
};

class TMoBuilder {
 public:
  static constexpr uint32_t kHeaderSize = 28;

  static std::string Build(std::vector<TMoEntry> entries, TMoLayout layout = {}) {
    if (layout.Sorted)
      std::sort(entries.begin(), entries.end(), [](const TMoEntry& a, const TMoEntry& b) { return a.Id < b.Id; });
    const auto count = static_cast<uint32_t>(entries.size());
    const uint32_t identifiers = kHeaderSize;
    const uint32_t translations = identifiers + count * 8;
    std::string strings;
    std::vector<std::pair<uint32_t, uint32_t>> idSlots, textSlots;
    const uint32_t stringsStart = translations + count * 8;
    for (const TMoEntry& entry : entries) idSlots.push_back(Append(strings, entry.Id, stringsStart));
    for (const TMoEntry& entry : entries) textSlots.push_back(Append(strings, entry.Text, stringsStart));

    std::string file;
    for (const uint32_t word : {0x950412deu, 0u, count, identifiers, translations, 0u, stringsStart})
      PutWord(file, word, layout.Swapped);
    for (const auto* table : {&idSlots, &textSlots}) {
      for (const auto& [length, offset] : *table) {
        PutWord(file, length, layout.Swapped);
        PutWord(file, offset, layout.Swapped);
      }
    }
    return file + strings;
  }

  // Overwrites the 32-bit little-endian word at `offset` of a native-order catalogue.
  static void Patch(std::string& file, size_t offset, uint32_t word) {
    std::string bytes;
    PutWord(bytes, word, false);
    file.replace(offset, 4, bytes);
  }

 private:
  static std::pair<uint32_t, uint32_t> Append(std::string& strings, const std::string& text, uint32_t start) {
    const auto offset = static_cast<uint32_t>(start + strings.size());
    strings += text;
    strings += '\0';
    return {static_cast<uint32_t>(text.size()), offset};
  }

  static void PutWord(std::string& out, uint32_t word, bool swapped) {
    for (int i = 0; i < 4; ++i) {
      const int shift = swapped ? 24 - 8 * i : 8 * i;
      out += static_cast<char>((word >> shift) & 0xFF);
    }
  }
};
