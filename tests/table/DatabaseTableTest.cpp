#include "DatabaseTable.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {
std::vector<std::vector<std::string>> Cells(const TDatabaseTable& table) {
  std::vector<std::vector<std::string>> rows;
  for (int r = 0; r < table.RowCount(); ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < table.ColumnCount(); ++c) row.emplace_back(table.Cell(c, r));
    rows.push_back(row);
  }
  return rows;
}

using Rows = std::vector<std::vector<std::string>>;
}  // namespace

TEST(DatabaseTableInitial, IsFiveByFiveEmptyCells) {
  const TDatabaseTable table;
  EXPECT_EQ(table.RowCount(), 5);
  EXPECT_EQ(table.ColumnCount(), 5);
  EXPECT_EQ(Cells(table), Rows(5, std::vector<std::string>(5)));
  EXPECT_EQ(table.RowText(0), ";;;;");
}

TEST(DatabaseImportEmpty, EmptyFileAndOnlyEmptyLinesGiveOneEmptyCell) {
  for (const auto& bytes : {std::string(), std::string("\n\n\r\n"), std::string("\x1a" "a;b\n")}) {
    const TDatabaseTable table = TDatabaseTable::Parse(bytes);
    EXPECT_EQ(table.RowCount(), 1);
    EXPECT_EQ(table.ColumnCount(), 1);
    EXPECT_EQ(table.Cell(0, 0), "");
    EXPECT_EQ(table.RowText(0), "");
  }
}

TEST(DatabaseImportFields, UnevenRowsGrowTheTableAndLeaveCellsEmpty) {
  const TDatabaseTable table = TDatabaseTable::Parse("a;b\nc;d;e\n");
  EXPECT_EQ(Cells(table), (Rows{{"a", "b", ""}, {"c", "d", "e"}}));
  EXPECT_EQ(table.RowText(0), "a;b;");
}

TEST(DatabaseImportFields, SeparatorsGiveEmptyFields) {
  EXPECT_EQ(Cells(TDatabaseTable::Parse("a;b;")), (Rows{{"a", "b", ""}}));
  EXPECT_EQ(Cells(TDatabaseTable::Parse(";;")), (Rows{{"", "", ""}}));
}

TEST(DatabaseImportFields, BlanksAndQuotesAreKeptAsTheyStand) {
  EXPECT_EQ(Cells(TDatabaseTable::Parse("   ")), (Rows{{"   "}}));
  EXPECT_EQ(Cells(TDatabaseTable::Parse(" \"x;y\" ; z")), (Rows{{" \"x", "y\" ", " z"}}));
}

TEST(DatabaseImportFields, BytesAreNotConverted) {
  const std::string bytes = "\xa3\xf3\x64\xbc;\xc3\xb3\n";
  const TDatabaseTable table = TDatabaseTable::Parse(bytes);
  EXPECT_EQ(table.Cell(0, 0), "\xa3\xf3\x64\xbc");
  EXPECT_EQ(table.Cell(1, 0), "\xc3\xb3");
  EXPECT_EQ(table.RowText(0), "\xa3\xf3\x64\xbc;\xc3\xb3");
}

TEST(DatabaseImportLines, EmptyLinesTakeNoRow) {
  EXPECT_EQ(Cells(TDatabaseTable::Parse("a\n\nb")), (Rows{{"a"}, {"b"}}));
}

TEST(DatabaseImportLines, CrLfAndLfGiveTheSameTable) {
  EXPECT_EQ(Cells(TDatabaseTable::Parse("a;b\r\nc\r\n")), Cells(TDatabaseTable::Parse("a;b\nc\n")));
}

TEST(DatabaseImportLines, LoneCarriageReturnIsDropped) {
  EXPECT_EQ(Cells(TDatabaseTable::Parse("a\rb;c\n\r\nd")), (Rows{{"ab", "c"}, {"d", ""}}));
}

TEST(DatabaseImportLines, CtrlZEndsTheFile) {
  EXPECT_EQ(Cells(TDatabaseTable::Parse("a;b\nc\x1a" "d;e;f\ng\n")), (Rows{{"a", "b"}, {"c", ""}}));
}

TEST(DatabaseImportLines, LastLineNeedsNoLineEnd) {
  EXPECT_EQ(Cells(TDatabaseTable::Parse("a\nb;c")), (Rows{{"a", ""}, {"b", "c"}}));
}

TEST(DatabaseImportLines, NulBytesAreOrdinaryCharacters) {
  const TDatabaseTable table = TDatabaseTable::Parse(std::string("a\0b;c\n", 6));
  EXPECT_EQ(table.Cell(0, 0), std::string_view("a\0b", 3));
}

TEST(DatabaseTableCells, OutOfRangeCellsAreEmpty) {
  const TDatabaseTable table = TDatabaseTable::Parse("a;b\n");
  EXPECT_EQ(table.Cell(2, 0), "");
  EXPECT_EQ(table.Cell(0, 1), "");
  EXPECT_EQ(table.Cell(-1, 0), "");
  EXPECT_EQ(table.RowText(1), "");
}

TEST(DatabaseTableCells, RowTextCoversEveryColumn) {
  const TDatabaseTable table = TDatabaseTable::Parse("a;b\nc;d;e;f\n");
  EXPECT_EQ(table.RowText(0), "a;b;;");
  EXPECT_EQ(table.RowText(1), "c;d;e;f");
}

TEST(DatabaseFile, LoadsAFileFromDisk) {
  TTempDir dir;
  dir.Write("db.csv", "1;Bread;2.49\r\n2;Butter\r\n");
  const TDatabaseLoad load = LoadDatabaseFile(dir.File("db.csv"));
  EXPECT_TRUE(load.ReadError.empty());
  EXPECT_EQ(Cells(load.Table), (Rows{{"1", "Bread", "2.49"}, {"2", "Butter", ""}}));
}

TEST(DatabaseFile, MissingFileOrDirectoryCannotBeOpened) {
  TTempDir dir;
  EXPECT_THROW(LoadDatabaseFile(dir.File("missing.csv")), EDatabaseFile);
  EXPECT_THROW(LoadDatabaseFile(dir.Path()), EDatabaseFile);
}

TEST(DatabaseFile, UnreadableFileCannotBeOpened) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TTempDir dir;
  dir.Write("secret.csv", "a\n");
  chmod(dir.File("secret.csv").c_str(), 0);
  EXPECT_THROW(LoadDatabaseFile(dir.File("secret.csv")), EDatabaseFile);
}

TEST(DatabaseFile, MessageNamesTheFile) {
  try {
    LoadDatabaseFile("/nonexistent/db.csv");
    FAIL();
  } catch (const EDatabaseFile& error) {
    EXPECT_NE(std::string(error.what()).find("/nonexistent/db.csv"), std::string::npos);
  }
}

TEST(DatabaseFile, ReadErrorKeepsTheCompleteLinesReadSoFar) {
  const std::string chunks[] = {"a;b\nc;", "d\ne"};
  size_t next = 0;
  const TDatabaseLoad load = ReadDatabase(
      [&](char* buffer, size_t size) -> long {
        if (next == 2) {
          errno = EIO;
          return -1;
        }
        const std::string& chunk = chunks[next++];
        const size_t count = std::min(size, chunk.size());
        std::copy_n(chunk.data(), count, buffer);
        return static_cast<long>(count);
      },
      0, "db.csv");
  EXPECT_NE(load.ReadError.find("db.csv"), std::string::npos);
  EXPECT_EQ(Cells(load.Table), (Rows{{"a", "b"}, {"c", "d"}}));
}

namespace {
// The import written the plain way: line by line, field by field.
Rows ReferenceImport(const std::string& bytes) {
  Rows rows;
  std::string line;
  auto finishLine = [&] {
    if (line.empty()) return;
    std::vector<std::string> fields(1);
    for (const char c : line) {
      if (c == ';') fields.emplace_back();
      else fields.back() += c;
    }
    rows.push_back(fields);
    line.clear();
  };
  for (const char c : bytes) {
    if (c == 26) break;
    if (c == '\n') finishLine();
    else if (c != '\r') line += c;
  }
  finishLine();
  if (rows.empty()) rows.push_back({""});
  size_t columns = 0;
  for (const auto& row : rows) columns = std::max(columns, row.size());
  for (auto& row : rows) row.resize(columns);
  return rows;
}
}  // namespace

TEST(DatabaseImportLines, AgreesWithThePlainLineByLineImportOnRandomFiles) {
  const char alphabet[] = {'a', 'b', ';', ';', '\r', '\n', '\n', ' ', '\xff', 26};
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(next() % 120, ' ');
    for (char& c : bytes) c = alphabet[next() % (round % 7 == 0 ? 10 : 9)];
    ASSERT_EQ(Cells(TDatabaseTable::Parse(bytes)), ReferenceImport(bytes)) << "round " << round;
  }
}
