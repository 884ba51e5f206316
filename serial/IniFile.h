#pragma once
// A small INI file: case-insensitive sections and keys, writes that keep every other line.

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class EIniFile : public std::runtime_error {
 public:
  EIniFile(const std::string& what, int systemCode) : std::runtime_error(what), systemCode_(systemCode) {}
  int SystemCode() const { return systemCode_; }

 private:
  int systemCode_;
};

class TIniFile {
  struct TSection;

 public:
  // One section's keys, found once for reading many of them; valid while the file is unchanged.
  class TSectionReader {
   public:
    // As TIniFile::ReadString, within this section.
    std::string ReadString(const std::string& key, const std::string& fallback) const;

   private:
    friend class TIniFile;
    TSectionReader(const TIniFile& file, const TSection* section) : file_(file), section_(section) {}
    const TIniFile& file_;
    const TSection* section_;  // null when the file has no such section
  };

  // Reads the file when it exists; one that exists but cannot be read raises EIniFile.
  explicit TIniFile(std::string path);
  // The same over a file's text in memory, for tests and fuzzing: writes change only this object.
  static TIniFile FromText(std::string_view text);
  // The text a save writes.
  std::string Text() const;

  // Blanks around names and values are not part of them.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
  TSectionReader Section(const std::string& section) const;
  int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
  // Replaces the value where the key stands, or adds the key at the end of its section, creating
  // section and file as needed; the file is saved at once (replaced whole, never rewritten in
  // place) and a refusal raises EIniFile, leaving the file and this object as they were.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  // Writes each key as WriteString does, in order, with one save of the file for all of them
  // (none when there is nothing to write).
  void WriteStrings(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values);

 private:
  // Where a line's bytes lie in text_ (its name and value too), and what it is, found once when
  // it is read or written: lookups then compare names only, and no line is a string of its own.
  struct TLine {
    enum TKind : unsigned char { kOther, kSection, kKey };
    size_t Start = 0, Size = 0, NameStart = 0, NameSize = 0, ValueStart = 0, ValueSize = 0;
    TKind Kind = kOther;
  };
  // A section's header and the lines up to the next header, so that a lookup passes over the
  // other sections' lines without reading them.
  struct TSection {
    TLine Header;
    std::vector<TLine> Lines;
  };

  TLine AddLine(std::string_view line);
  TLine Classify(size_t start, size_t size) const;
  std::string_view Bytes(size_t start, size_t size) const { return std::string_view(text_).substr(start, size); }
  bool Matches(const TLine& line, std::string_view name) const;
  // The index of the section, or of the key within it; the size of what was searched when absent.
  size_t SectionIndex(std::string_view section) const;
  size_t KeyIndex(const TSection& section, std::string_view key) const;
  const TLine* FindValue(const TSection* section, const std::string& key) const;
  // The section's index, the section added at the end when the file has none of that name.
  size_t SectionToWrite(const std::string& section);
  void SetValue(TSection& section, const std::string& key, const std::string& value);
  void Save() const;

  TIniFile() = default;
  void TakeLines(std::string_view text);

  std::string path_;
  bool inMemory_ = false;
  std::string text_;  // the lines as read, then every line written, appended
  std::vector<TLine> preamble_;  // the lines before the first header, which no lookup finds
  std::vector<TSection> sections_;
  std::string lineEnd_ = "\n";
};

// Section and key names compare so: ASCII letters without regard to case, every other byte as is.
bool SameIniName(std::string_view a, std::string_view b);

// An INI integer: decimal, or hexadecimal after "0x"/"0X"; anything else gives `fallback`.
int ParseIniInteger(const std::string& text, int fallback);
