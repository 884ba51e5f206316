#include "FileCheck.h"

#include "DatabaseTable.h"
#include "ScaleCommands.h"
#include "TextForms.h"

#include <QLocale>
#include <QString>

#include <algorithm>
#include <new>
#include <string_view>

namespace {
constexpr char kSeparator = ';';

std::string Count(int count) { return QLocale(QLocale::English).toString(count).toStdString(); }

std::string Plural(int count, const std::string& one, const std::string& many) {
  return Count(count) + " " + (count == 1 ? one : many);
}

int FieldsOf(std::string_view line) { return 1 + static_cast<int>(std::count(line.begin(), line.end(), kSeparator)); }

bool IsAscii(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

template <typename T>
void KeepExample(std::vector<T>& examples, T example) {
  if (examples.size() < TFileReport::kExamples) examples.push_back(std::move(example));
}

// "Sr", the row's bytes as they go out, and a ";" for each field a short row lacks.
void NoteRecordCommand(TFileReport& report, int row, size_t rowBytes, int fields) {
  const size_t bytes = kRecordCommand.size() + rowBytes + static_cast<size_t>(report.Fields - fields);
  if (bytes <= report.LongestCommandBytes) return;
  report.LongestCommandBytes = bytes;
  report.LongestCommandRow = row + 1;
}

std::string_view FirstField(std::string_view line) { return line.substr(0, line.find(kSeparator)); }

void NoteNulCells(TFileReport& report, int row, std::string_view line) {
  if (line.find('\0') == std::string_view::npos) return;
  int field = 1;
  for (size_t begin = 0; begin <= line.size(); ++field) {
    const size_t end = std::min(line.find(kSeparator, begin), line.size());
    if (line.substr(begin, end - begin).find('\0') != std::string_view::npos) {
      ++report.NulCells;
      KeepExample(report.NulCellExamples, TFileReport::TCell{row + 1, field});
    }
    begin = end + 1;
  }
}

// The lines after a byte 26 that hold more than line ends: the import never reads them.
void NoteUnreadLines(const TDatabaseTable& table, TFileReport& report) {
  const TDatabaseTable::TUnread unread = table.Unread();
  int lines = 0;
  bool text = false;
  for (const char c : unread.Bytes) {
    if (c == '\n') {
      lines += text;
      text = false;
    } else if (c != '\r' && c != 26) {
      text = true;
    }
  }
  lines += text;
  if (lines == 0) return;
  report.EndOfFileLine = unread.Line;
  report.UnreadLines = lines;
}

// The rows by first field, open-addressed: a million rows cost two flat arrays, no node each.
class TFirstFields {
 public:
  TFirstFields(const TDatabaseTable& table, int rows) : table_(table) {
    size_t capacity = 16;
    while (capacity < static_cast<size_t>(rows) * 2) capacity *= 2;
    slots_.assign(capacity, kEmpty);
  }
  // The earlier row with the same first field, or -1 after noting this one.
  int EarlierOrAdd(int row, std::string_view first) {
    const size_t mask = slots_.size() - 1;
    for (size_t slot = std::hash<std::string_view>{}(first) & mask;; slot = (slot + 1) & mask) {
      if (slots_[slot] == kEmpty) {
        slots_[slot] = row;
        return -1;
      }
      if (FirstField(table_.Line(slots_[slot])) == first) return slots_[slot];
    }
  }

 private:
  static constexpr int kEmpty = -1;
  const TDatabaseTable& table_;
  std::vector<int> slots_;
};

void CheckShapeAndText(const TDatabaseTable& table, TFileReport& report) {
  bool ascii = true;
  bool utf8 = true;
  TFirstFields firstFields(table, report.Rows);
  for (int row = 0; row < report.Rows; ++row) {
    const std::string_view line = table.Line(row);
    const int fields = FieldsOf(line);
    if (fields < report.Fields) {
      ++report.ShortRows;
      KeepExample(report.ShortRowExamples, row + 1);
    }
    const std::string_view first = FirstField(line);
    if (const int earlier = firstFields.EarlierOrAdd(row, first); earlier >= 0) {
      ++report.RepeatedFirstFields;
      KeepExample(report.RepeatExamples, TFileReport::TRepeat{row + 1, earlier + 1, std::string(first)});
    }
    if (ascii && !IsAscii(line)) ascii = false;
    if (!ascii && utf8) utf8 = IsValidUtf8(line);
    NoteRecordCommand(report, row, line.size(), fields);
    NoteNulCells(report, row, line);
  }
  report.Form = ascii ? TTextForm::Ascii : utf8 ? TTextForm::Utf8 : TTextForm::SingleByte;
}

int FieldAt(std::string_view line, size_t offset) { return FieldsOf(line.substr(0, offset)); }

void RecordMisses(std::string_view line, int row, const std::vector<TCodePage::TMiss>& misses, TFileReport& report) {
  for (const TCodePage::TMiss& miss : misses) {
    ++report.Unconvertible;
    const TFileReport::TCharacter character{row + 1, FieldAt(line, miss.Offset), miss.Character, miss.Replacement};
    KeepExample(report.UnconvertibleExamples, character);
    if (!report.Encoding.Transliterate) continue;
    auto& replacements = report.Replacements;
    const auto same = std::find_if(replacements.begin(), replacements.end(), [&](const auto& replacement) {
      return replacement.First.Character == miss.Character;
    });
    if (same == replacements.end())
      replacements.push_back({character, 1});
    else
      ++same->Count;
  }
}

void CheckConversion(const TDatabaseTable& table, TCodePage& codePage, TFileReport& report) {
  report.LongestCommandBytes = 0;
  for (int row = 0; row < report.Rows; ++row) {
    const std::string_view line = table.Line(row);
    const TCodePage::TConversion conversion = codePage.Convert(line, report.Encoding.Transliterate);
    RecordMisses(line, row, conversion.Misses, report);
    NoteRecordCommand(report, row, conversion.Bytes.size(), FieldsOf(line));
  }
}

std::string FormName(TTextForm form) {
  switch (form) {
    case TTextForm::Ascii: return "plain ASCII";
    case TTextForm::Utf8: return "UTF-8";
    case TTextForm::SingleByte: return "single-byte (not UTF-8)";
  }
  return {};
}

template <typename T, typename Describe>
std::string Examples(const std::vector<T>& examples, int count, Describe describe) {
  std::string text;
  for (const T& example : examples) text += (text.empty() ? "" : "; ") + describe(example);
  return text + (count > static_cast<int>(examples.size()) ? "; …" : "");
}

std::string Where(const TFileReport::TCharacter& character) {
  return "row " + Count(character.Row) + ", field " + Count(character.Field);
}

std::string Place(const TFileReport::TCharacter& character) { return Where(character) + ": \"" + character.Character + "\""; }

std::string ShortRowsLine(const TFileReport& report) {
  return Plural(report.ShortRows, "row has", "rows have") + " fewer than " + Count(report.Fields) + " fields (" +
         Examples(report.ShortRowExamples, report.ShortRows, [](int row) { return "row " + Count(row); }) + ")";
}

std::string RepeatsLine(const TFileReport& report) {
  return Plural(report.RepeatedFirstFields, "row repeats", "rows repeat") +
         " an earlier row's first field, which overwrites that product on the scale (" +
         Examples(report.RepeatExamples, report.RepeatedFirstFields,
                  [](const TFileReport::TRepeat& repeat) {
                    return "row " + Count(repeat.Row) + " repeats \"" + repeat.FirstField + "\" of row " +
                           Count(repeat.EarlierRow);
                  }) +
         ")";
}

std::string NulCellsLine(const TFileReport& report) {
  return Plural(report.NulCells, "cell holds", "cells hold") + " a NUL byte (" +
         Examples(report.NulCellExamples, report.NulCells,
                  [](const TFileReport::TCell& cell) { return "row " + Count(cell.Row) + ", field " + Count(cell.Field); }) +
         ")";
}

std::string UnreadLinesLine(const TFileReport& report) {
  return "the file ends at byte 26 on line " + Count(static_cast<int>(report.EndOfFileLine)) + "; " +
         Plural(report.UnreadLines, "line after it is", "lines after it are") + " not read";
}

std::string ReplacementLine(const TFileReport::TReplacement& replacement) {
  return "\"" + replacement.First.Character + "\" is sent as \"" + replacement.First.Replacement + "\" (" +
         Plural(replacement.Count, "time", "times") + ", first at " + Where(replacement.First) + ")";
}

std::string CodePageLine(const TFileReport& report) {
  const std::string& name = report.Encoding.CodePage;
  if (name.empty()) return "none set; the file's bytes are sent unchanged";
  if (report.CodePageNotSingleByte) return name + ", which is not single-byte";
  if (!report.CodePageError.empty()) return name + ", which this system does not know";
  if (report.Converts()) return name + "; the text is converted before it is sent";
  if (report.Form == TTextForm::Ascii) return name + "; plain ASCII needs no conversion";
  return name + "; the file is not UTF-8 and is sent unchanged";
}
}  // namespace

int TFileReport::Warnings() const {
  return (ShortRows > 0) + (RepeatedFirstFields > 0) + (NulCells > 0) + (UnreadLines > 0) +
         static_cast<int>(Replacements.size());
}

TFileReport CheckFile(const TDatabaseTable& table, const TEncodingSettings& encoding) {
  TFileReport report;
  report.Rows = table.RowCount();
  report.Fields = table.ColumnCount();
  report.Encoding = encoding;
  // A name the system does not know is refused even for a file that needs no conversion.
  std::optional<TCodePage> codePage;
  try {
    if (!encoding.CodePage.empty()) codePage.emplace(encoding.CodePage);
  } catch (const ECodePage& error) {
    report.CodePageError = error.what();
    report.CodePageNotSingleByte = dynamic_cast<const ECodePageNotSingleByte*>(&error) != nullptr;
  }
  try {
    CheckShapeAndText(table, report);
    NoteUnreadLines(table, report);
    if (report.Converts()) CheckConversion(table, *codePage, report);
  } catch (const std::bad_alloc&) {
    report.CheckError = "There is not enough memory to check the file.";
  }
  return report;
}

std::string ReportSummary(const TFileReport& report) {
  std::string summary = Plural(report.Rows, "row", "rows") + " × " + Plural(report.Fields, "field", "fields") +
                        " · " + (report.Form == TTextForm::SingleByte ? "single-byte" : FormName(report.Form));
  if (report.Converts()) summary += " → " + report.Encoding.CodePage;
  if (!report.CheckError.empty()) return summary + " · cannot be sent: not enough memory to check it";
  if (!report.CodePageError.empty())
    return summary + " · cannot be sent: " + report.Encoding.CodePage +
           (report.CodePageNotSingleByte ? " is not single-byte" : " is not known");
  if (!report.CanSend()) return summary + " · cannot be sent: " + Plural(report.Unconvertible, "character", "characters") +
                                " not in " + report.Encoding.CodePage;
  const int warnings = report.Warnings();
  return summary + " · " + (warnings == 0 ? "no warnings" : Plural(warnings, "warning", "warnings"));
}

std::string ReportText(const TFileReport& report) {
  std::string text = "Rows: " + Count(report.Rows) + ", the widest with " + Plural(report.Fields, "field", "fields") + "\n";
  if (!report.CheckError.empty()) return text + "Error: " + report.CheckError + "\n";
  text += "Text: " + FormName(report.Form) + "\n";
  text += "Longest record command: " + Plural(static_cast<int>(report.LongestCommandBytes), "byte", "bytes") +
          " (row " + Count(report.LongestCommandRow) + ")\n";
  text += "Scale code page: " + CodePageLine(report) + "\n";
  for (const std::string& warning : ReportWarnings(report)) text += "Warning: " + warning + "\n";
  if (!report.CanSend()) text += "Error: " + RefusalReason(report) + "\n";
  return text;
}

std::vector<std::string> ReportWarnings(const TFileReport& report) {
  std::vector<std::string> warnings;
  if (report.ShortRows > 0) warnings.push_back(ShortRowsLine(report));
  if (report.RepeatedFirstFields > 0) warnings.push_back(RepeatsLine(report));
  if (report.NulCells > 0) warnings.push_back(NulCellsLine(report));
  if (report.UnreadLines > 0) warnings.push_back(UnreadLinesLine(report));
  for (const auto& replacement : report.Replacements) warnings.push_back(ReplacementLine(replacement));
  return warnings;
}

std::string RefusalReason(const TFileReport& report) {
  if (report.CanSend()) return {};
  if (!report.CheckError.empty()) return report.CheckError;
  if (!report.CodePageError.empty()) return report.CodePageError;
  return report.Encoding.CodePage + " cannot hold " + Plural(report.Unconvertible, "character", "characters") +
         " of the file (" + Examples(report.UnconvertibleExamples, report.Unconvertible, Place) + ").";
}

TRowEncoder::TRowEncoder(const TFileReport& report) : transliterate_(report.Encoding.Transliterate) {
  if (report.Converts()) codePage_.emplace(report.Encoding.CodePage);
}

std::string TRowEncoder::operator()(std::string rowText) {
  if (!codePage_) return rowText;
  return codePage_->Convert(rowText, transliterate_).Bytes;
}
