// Any bytes import without a crash, and every row text agrees with the table's cells.

#include "DatabaseTable.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TDatabaseTable table = TDatabaseTable::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (int row = 0; row < table.RowCount(); ++row) {
    std::string joined;
    for (int column = 0; column < table.ColumnCount(); ++column) {
      if (column > 0) joined += ';';
      joined += table.Cell(column, row);
    }
    if (joined != table.RowText(row)) std::abort();
  }
  return 0;
}
