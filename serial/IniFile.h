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
 public:
  // Reads the file when it exists; one that exists but cannot be read raises EIniFile.
  explicit TIniFile(std::string path);
  // The same over a file's text in memory, for tests and fuzzing: writes change only this object.
  static TIniFile FromText(std::string_view text);
  // The text a save writes.
  std::string Text() const;

  // Blanks around names and values are not part of them.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
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
  // A line as written, with what it is found once when it is read or written: lookups then
  // compare names only, instead of trimming every line for every key.
  struct TLine {
    enum TKind : unsigned char { kOther, kSection, kKey };
    explicit TLine(std::string text);
    std::string_view Name() const { return std::string_view(Text).substr(NameStart, NameSize); }
    std::string_view Value() const { return std::string_view(Text).substr(ValueStart, ValueSize); }
    // A header or key of that name, compared as lookups compare.
    bool Matches(std::string_view name) const;
    std::string Text;
    TKind Kind = kOther;
    size_t NameStart = 0, NameSize = 0, ValueStart = 0, ValueSize = 0;
  };

  // A section's header and the lines up to the next header, so that a lookup passes over the
  // other sections' lines without reading them.
  struct TSection {
    bool Matches(std::string_view name) const { return Header.Matches(name); }
    TLine Header;
    std::vector<TLine> Lines;
  };

  const TSection* FindSection(const std::string& section) const;
  TSection* FindSection(const std::string& section);
  const TLine* FindValue(const std::string& section, const std::string& key) const;
  void SetValue(const std::string& section, const std::string& key, const std::string& value);
  void Save() const;

  TIniFile() = default;
  void TakeLines(std::string_view text);

  std::string path_;
  bool inMemory_ = false;
  std::vector<TLine> preamble_;  // the lines before the first header, which no lookup finds
  std::vector<TSection> sections_;
  std::string lineEnd_ = "\n";
};

// An INI integer: decimal, or hexadecimal after "0x"/"0X"; anything else gives `fallback`.
int ParseIniInteger(const std::string& text, int fallback);
