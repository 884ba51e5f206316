#include "IniFile.h"

#include "FileSave.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <iterator>

#include <sys/stat.h>

namespace {
// A carriage return counts as a blank: files whose line ends went through two conversions end
// their lines in CR CR LF, and the stray CR is no part of a name or value. Every lookup walks the
// lines, so the pieces are views into them, never copies.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool IsSectionHeader(std::string_view line, std::string_view* name = nullptr) {
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] != '[') return false;
  const size_t close = trimmed.find(']');
  if (close == std::string_view::npos) return false;
  if (name) *name = Trim(trimmed.substr(1, close - 1));
  return true;
}

// A "key=value" line; comment lines starting with ';' are none.
bool SplitKeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::string_view trimmed = Trim(line);
  const size_t equals = trimmed.find('=');
  if (trimmed.empty() || trimmed[0] == ';' || equals == std::string_view::npos) return false;
  key = Trim(trimmed.substr(0, equals));
  value = Trim(trimmed.substr(equals + 1));
  return true;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

bool ParseDigits(const std::string& digits, int base, uint64_t limit, uint64_t& value) {
  if (digits.empty()) return false;
  value = 0;
  for (char c : digits) {
    const int digit = DigitValue(c);
    if (digit >= base) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > limit) return false;
  }
  return true;
}
}  // namespace

int ParseIniInteger(const std::string& text, int fallback) {
  uint64_t value = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (!ParseDigits(text.substr(2), 16, 0xFFFFFFFFu, value)) return fallback;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  const bool negative = !text.empty() && text[0] == '-';
  const size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  const uint64_t limit = uint64_t{std::numeric_limits<int32_t>::max()} + (negative ? 1 : 0);
  if (!ParseDigits(text.substr(start), 10, limit, value)) return fallback;
  return static_cast<int>(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
}

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  struct stat info;
  if (stat(path_.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) throw EIniFile("Cannot read " + path_, EISDIR);
  std::ifstream file(path_, std::ios::binary);
  if (!file) {
    if (errno == ENOENT) return;
    throw EIniFile("Cannot read " + path_, errno);
  }
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) throw EIniFile("Cannot read " + path_, errno);
  TakeLines(text);
}

TIniFile TIniFile::FromText(std::string_view text) {
  TIniFile ini;
  ini.inMemory_ = true;
  ini.TakeLines(text);
  return ini;
}

void TIniFile::TakeLines(std::string_view text) {
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      if (lines_.empty()) lineEnd_ = "\r\n";
    }
    lines_.emplace_back(line);
  }
}

size_t TIniFile::FindSection(const std::string& section) const {
  std::string_view name;
  for (size_t i = 0; i < lines_.size(); ++i)
    if (IsSectionHeader(lines_[i], &name) && SameName(name, section)) return i;
  return npos;
}

size_t TIniFile::SectionEnd(size_t header) const {
  size_t end = header + 1;
  while (end < lines_.size() && !IsSectionHeader(lines_[end])) ++end;
  return end;
}

size_t TIniFile::FindKey(size_t header, const std::string& key) const {
  std::string_view name, value;
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i)
    if (SplitKeyLine(lines_[i], name, value) && SameName(name, key)) return i;
  return npos;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  const size_t header = FindSection(section);
  if (header == npos) return fallback;
  const size_t line = FindKey(header, key);
  std::string_view name, value;
  if (line == npos || !SplitKeyLine(lines_[line], name, value)) return fallback;
  return std::string(value);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const {
  const size_t header = FindSection(section);
  if (header == npos || FindKey(header, key) == npos) return fallback;
  return ParseIniInteger(ReadString(section, key, std::string()), fallback);
}

void TIniFile::SetValue(const std::string& section, const std::string& key, const std::string& value) {
  size_t header = FindSection(section);
  if (header == npos) {
    lines_.push_back("[" + section + "]");
    header = lines_.size() - 1;
  }
  const size_t existing = FindKey(header, key);
  if (existing != npos) {
    std::string_view name, old;
    SplitKeyLine(lines_[existing], name, old);
    lines_[existing] = std::string(name) + "=" + value;
  } else {
    size_t last = SectionEnd(header);
    while (last > header + 1 && Trim(lines_[last - 1]).empty()) --last;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last), key + "=" + value);
  }
}

void TIniFile::WriteStrings(const std::string& section,
                            const std::vector<std::pair<std::string, std::string>>& values) {
  if (values.empty()) return;
  const std::vector<std::string> before = lines_;
  for (const auto& [key, value] : values) SetValue(section, key, value);
  try {
    Save();
  } catch (...) {
    lines_ = before;
    throw;
  }
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  WriteStrings(section, {{key, value}});
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

std::string TIniFile::Text() const {
  std::string text;
  for (const std::string& line : lines_) text += line + lineEnd_;
  return text;
}

void TIniFile::Save() const {
  if (inMemory_) return;
  if (const int failure = SaveWholeFile(path_, Text()); failure != 0) throw EIniFile("Cannot write " + path_, failure);
}
