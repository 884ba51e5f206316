// Any bytes import without a crash into the table a plain line-by-line reading gives.

#include "DatabaseTable.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {
using TRows = std::vector<std::vector<std::string>>;

// Byte 26 ends the data; lines end at LF, every CR is dropped; empty lines are skipped; fields
// are split at ";".
TRows Reference(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\x1a'));
  TRows rows;
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    std::string line(bytes.substr(0, end));
    bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    if (line.empty()) continue;
    std::vector<std::string> fields(1);
    for (const char c : line) {
      if (c == ';')
        fields.emplace_back();
      else
        fields.back() += c;
    }
    rows.push_back(std::move(fields));
  }
  return rows;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const TDatabaseTable table = TDatabaseTable::Parse(bytes);
  const TRows rows = Reference(bytes);
  size_t columns = 1;
  for (const auto& fields : rows) columns = std::max(columns, fields.size());
  if (table.RowCount() != static_cast<int>(std::max<size_t>(rows.size(), 1))) std::abort();
  if (table.ColumnCount() != static_cast<int>(columns)) std::abort();
  for (size_t row = 0; row < rows.size(); ++row) {
    std::string joined;
    for (size_t column = 0; column < columns; ++column) {
      const std::string expected = column < rows[row].size() ? rows[row][column] : std::string();
      if (table.Cell(static_cast<int>(column), static_cast<int>(row)) != expected) std::abort();
      if (column > 0) joined += ';';
      joined += expected;
    }
    if (table.RowText(static_cast<int>(row)) != joined) std::abort();
  }
  return 0;
}
