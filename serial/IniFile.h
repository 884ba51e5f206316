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
  static constexpr size_t npos = static_cast<size_t>(-1);
  size_t FindSection(const std::string& section) const;
  size_t SectionEnd(size_t header) const;
  size_t FindKey(size_t header, const std::string& key) const;
  void SetValue(const std::string& section, const std::string& key, const std::string& value);
  void Save() const;

  TIniFile() = default;
  void TakeLines(std::string_view text);

  std::string path_;
  bool inMemory_ = false;
  std::vector<std::string> lines_;
  std::string lineEnd_ = "\n";
};

// An INI integer: decimal, or hexadecimal after "0x"/"0X"; anything else gives `fallback`.
int ParseIniInteger(const std::string& text, int fallback);
