#pragma once
// What the operator should know of a database file before it goes to a scale: its shape, its
// text, repeated product numbers and the characters the scale's code page cannot hold.

#include "CodePage.h"

#include <string>
#include <vector>

class TDatabaseTable;

enum class TTextForm { Ascii, Utf8, SingleByte };

// How the file is to be sent: the scale's code page (empty: the file's bytes unchanged) and
// whether characters it lacks become their closest letter.
struct TEncodingSettings {
  std::string CodePage;
  bool Transliterate = false;
};

struct TFileReport {
  static constexpr size_t kExamples = 5;

  struct TRepeat {
    int Row;
    int EarlierRow;
    std::string FirstField;
  };
  struct TCharacter {
    int Row;
    int Field;
    std::string Character;    // UTF-8
    std::string Replacement;  // UTF-8; empty when it is not replaced
  };
  // A character the code page lacks, replaced: how often and where first.
  struct TReplacement {
    TCharacter First;
    int Count;
  };
  struct TCell {
    int Row;
    int Field;
  };

  int Rows = 0;
  int Fields = 0;  // of the widest row
  int ShortRows = 0;
  std::vector<int> ShortRowExamples;  // row numbers count from 1, as on screen
  TTextForm Form = TTextForm::Ascii;
  int RepeatedFirstFields = 0;
  std::vector<TRepeat> RepeatExamples;
  size_t LongestCommandBytes = 0;  // "Sr" and the row text as it goes on the wire, framing aside
  int LongestCommandRow = 0;
  int NulCells = 0;  // cells holding a NUL byte
  std::vector<TCell> NulCellExamples;
  size_t EndOfFileLine = 0;  // the line of a byte 26 that ends the file before lines with text
  int UnreadLines = 0;       // those lines
  TEncodingSettings Encoding;
  std::string CodePageError;  // the code page is not known to the system, or not single-byte
  bool CodePageNotSingleByte = false;
  std::string CheckError;  // the check could not be completed; its figures are incomplete
  int Unconvertible = 0;  // characters of a UTF-8 file the code page cannot hold
  std::vector<TCharacter> UnconvertibleExamples;
  std::vector<TReplacement> Replacements;  // with transliteration, one per distinct character

  // UTF-8 text that goes to the scale in its code page.
  bool Converts() const {
    return Form == TTextForm::Utf8 && !Encoding.CodePage.empty() && CodePageError.empty() && CheckError.empty();
  }
  bool CanSend() const {
    return CheckError.empty() && CodePageError.empty() && (Unconvertible == 0 || Encoding.Transliterate);
  }
  int Warnings() const;
};

// Never throws for lack of memory: a file too large to check is one that cannot be sent.
TFileReport CheckFile(const TDatabaseTable& table, const TEncodingSettings& encoding);

// "1,204 rows × 6 fields · UTF-8 · 2 warnings".
std::string ReportSummary(const TFileReport& report);
// The whole report, one finding per line.
std::string ReportText(const TFileReport& report);
// The findings that do not block a send, one line each.
std::vector<std::string> ReportWarnings(const TFileReport& report);
// Why the file cannot be sent as configured; empty when it can.
std::string RefusalReason(const TFileReport& report);

// The rows' text as it goes on the wire: converted into the scale's code page when the report
// says so, else unchanged. One per session; not shared between threads.
class TRowEncoder {
 public:
  explicit TRowEncoder(const TFileReport& report);
  std::string operator()(std::string rowText);

 private:
  std::optional<TCodePage> codePage_;
  bool transliterate_ = false;
};
