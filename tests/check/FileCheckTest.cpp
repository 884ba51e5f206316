// The file check's figures and the conversion into the scale's code page.

#include "DatabaseTable.h"
#include "FileCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
TFileReport Check(const std::string& file, const std::string& codePage = "", bool transliterate = false) {
  return CheckFile(TDatabaseTable::Parse(file), TEncodingSettings{codePage, transliterate});
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (const unsigned char c : bytes) {
    char piece[4];
    std::snprintf(piece, sizeof piece, "%s%02X", hex.empty() ? "" : " ", c);
    hex += piece;
  }
  return hex;
}

std::string Sent(const std::string& file, const std::string& codePage, bool transliterate = false) {
  const TDatabaseTable table = TDatabaseTable::Parse(file);
  TRowEncoder encode(CheckFile(table, TEncodingSettings{codePage, transliterate}));
  return encode(table.RowText(0));
}
}  // namespace

TEST(FileCheck, FiguresOfAFileWithShortRowsRepeatsAndMixedText) {
  const TFileReport report = Check(
      "1;Ser \xC5\xBC\xC3\xB3\xC5\x82ty;4.99\n"
      "2;Mleko\n"
      "1;Mas\xC5\x82o;7.50\n"
      "3\n"
      "2;Chleb;3.10;extra\n");
  EXPECT_EQ(report.Rows, 5);
  EXPECT_EQ(report.Fields, 4);
  EXPECT_EQ(report.ShortRows, 4);
  EXPECT_EQ(report.ShortRowExamples, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(report.Form, TTextForm::Utf8);
  ASSERT_EQ(report.RepeatedFirstFields, 2);
  EXPECT_EQ(report.RepeatExamples[0].Row, 3);
  EXPECT_EQ(report.RepeatExamples[0].EarlierRow, 1);
  EXPECT_EQ(report.RepeatExamples[1].FirstField, "2");
  // "Sr" + "1;Ser żółty;4.99" + one ";" for the missing fourth field.
  EXPECT_EQ(report.LongestCommandBytes, 2u + 19u + 1u);
  EXPECT_EQ(report.LongestCommandRow, 1);
  EXPECT_EQ(report.Warnings(), 2);
  EXPECT_EQ(ReportSummary(report), "5 rows × 4 fields · UTF-8 · 2 warnings");
  EXPECT_NE(ReportText(report).find("4 rows have fewer than 4 fields (row 1; row 2; row 3; row 4)"), std::string::npos);
}

TEST(FileCheck, ExamplesStopAtFive) {
  std::string file;
  for (int row = 0; row < 8; ++row) file += "7;x\n";
  const TFileReport report = Check(file + "1;2;3\n");
  EXPECT_EQ(report.ShortRows, 8);
  EXPECT_EQ(report.ShortRowExamples.size(), 5u);
  EXPECT_EQ(report.RepeatedFirstFields, 7);
  EXPECT_EQ(report.RepeatExamples.size(), 5u);
  EXPECT_NE(ReportText(report).find("; …)"), std::string::npos);
}

TEST(FileCheck, TextForms) {
  const struct {
    std::string File;
    TTextForm Form;
  } cases[] = {
      {"1;Cheese\n", TTextForm::Ascii},
      {"1;\xC5\xBB\xC3\xB3\xC5\x82w\n", TTextForm::Utf8},
      {"1;\xAF\xF3\xB3w\n", TTextForm::SingleByte},         // CP1250 bytes
      {"1;\xC0\xAF\n", TTextForm::SingleByte},              // an overlong "/"
      {"1;\xED\xA0\x80\n", TTextForm::SingleByte},          // a surrogate
      {"1;ok\n2;\xC5\n", TTextForm::SingleByte},            // cut short at the line end
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.File).Form, c.Form) << Hex(c.File);
}

TEST(FileCheck, ConversionIntoEachCodePage) {
  const std::string file = "\xC5\xBB\xC3\xB3\xC5\x82w;\xC5\x81\xC3\xB3\x64\xC5\xBA\n";  // Żółw;Łódź
  const struct {
    std::string CodePage;
    std::string Bytes;
  } cases[] = {
      {"", Hex("\xC5\xBB\xC3\xB3\xC5\x82w;\xC5\x81\xC3\xB3\x64\xC5\xBA")},
      {"CP1250", "AF F3 B3 77 3B A3 F3 64 9F"},
      {"ISO-8859-2", "AF F3 B3 77 3B A3 F3 64 BC"},
      {"CP852", "BD A2 88 77 3B 9D A2 64 AB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(Sent(file, c.CodePage)), c.Bytes) << c.CodePage;
    EXPECT_TRUE(Check(file, c.CodePage).CanSend()) << c.CodePage;
  }
}

TEST(FileCheck, AFileThatIsNotUtf8IsSentUnchanged) {
  const std::string file = "1;\xAF\xF3\xB3w\n";
  EXPECT_EQ(Sent(file, "CP1250"), "1;\xAF\xF3\xB3w");
  EXPECT_FALSE(Check(file, "CP1250").Converts());
}

TEST(FileCheck, CharactersTheCodePageLacksStopTheSendOrAreTransliterated) {
  const std::string file = "1;Ok\n2;\xD0\x96uk;\xC5\x81\xC3\xB3\x64\xC5\xBA \xC5\x9E\n";  // Жuk;Łódź Ş
  const TFileReport refused = Check(file, "CP1250");
  EXPECT_FALSE(refused.CanSend());
  ASSERT_EQ(refused.Unconvertible, 1);
  EXPECT_EQ(RefusalReason(refused), "CP1250 cannot hold 1 character of the file (row 2, field 2: \"\xD0\x96\").");
  EXPECT_NE(ReportSummary(refused).find("cannot be sent: 1 character not in CP1250"), std::string::npos);

  const struct {
    std::string CodePage;
    std::string Row;
    int Warnings;
  } transliterated[] = {
      {"CP1250", "2;?uk;\xA3\xF3\x64\x9F \xAA", 2},
      {"ISO-8859-1", "2;?uk;L\xF3\x64z S", 5},
  };
  for (const auto& c : transliterated) {
    const TDatabaseTable table = TDatabaseTable::Parse(file);
    const TFileReport report = CheckFile(table, TEncodingSettings{c.CodePage, true});
    EXPECT_TRUE(report.CanSend()) << c.CodePage;
    EXPECT_EQ(report.Warnings(), c.Warnings) << c.CodePage;
    TRowEncoder encode(report);
    EXPECT_EQ(Hex(encode(table.RowText(1))), Hex(c.Row)) << c.CodePage;
  }
}

TEST(FileCheck, AnUnknownCodePageIsRefusedInWords) {
  const TFileReport report = Check("1;x\n", "CP-NO-SUCH");
  EXPECT_FALSE(report.CanSend());
  EXPECT_EQ(RefusalReason(report), "The code page \"CP-NO-SUCH\" is not known to this system.");
  EXPECT_EQ(ReportSummary(report), "1 row × 2 fields · plain ASCII · cannot be sent: CP-NO-SUCH is not known");
}

TEST(FileCheck, CodePagesThatWriteACharacterInSeveralBytesAreRefused) {
  for (const char* name : {"UTF-8", "UTF-16", "UTF-16LE", "UTF-32", "UCS-2", "UTF-7", "GB18030", "SHIFT_JIS"}) {
    const TFileReport report = Check("1;x\n", name);
    EXPECT_FALSE(report.CanSend()) << name;
    EXPECT_EQ(RefusalReason(report),
              "The code page \"" + std::string(name) + "\" is not single-byte; the scale takes one byte per character.");
    EXPECT_EQ(ReportSummary(report), "1 row × 2 fields · plain ASCII · cannot be sent: " + std::string(name) +
                                         " is not single-byte");
  }
  for (const char* name : {"CP1250", "ISO-8859-2", "CP852", "KOI8-R", "IBM037"})
    EXPECT_TRUE(Check("1;x\n", name).CanSend()) << name;
}

TEST(FileCheck, WhatTheImportLeavesOutOrTheScaleMayCutIsAWarning) {
  using namespace std::string_literals;
  const struct {
    std::string File;
    int Rows;
    std::vector<std::string> Warnings;
  } cases[] = {
      {"a\nb\nc\x1A\nd\ne\n", 3, {"the file ends at byte 26 on line 3; 2 lines after it are not read"}},
      {"a\r\nb\x1A" "c\r\n", 2, {"the file ends at byte 26 on line 2; 1 line after it is not read"}},
      {"a\nb\n\x1A", 2, {}},
      {"a\nb\n\x1A\r\n\x1A\n", 2, {}},
      {"1;a\0b\n2;\0\n3;x\n"s, 3, {"2 cells hold a NUL byte (row 1, field 2; row 2, field 2)"}},
      {"\0\n"s, 1, {"1 cell holds a NUL byte (row 1, field 1)"}},
  };
  for (const auto& c : cases) {
    const TFileReport report = Check(c.File);
    EXPECT_EQ(report.Rows, c.Rows) << Hex(c.File);
    EXPECT_EQ(ReportWarnings(report), c.Warnings) << Hex(c.File);
    EXPECT_EQ(report.Warnings(), static_cast<int>(c.Warnings.size())) << Hex(c.File);
    EXPECT_TRUE(report.CanSend()) << Hex(c.File);
  }
}
