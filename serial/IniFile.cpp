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
// their lines in CR CR LF, and the stray CR is no part of a name or value.
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

// The first section, or key line, of that name in `items`.
template <typename Items>
auto FindNamed(Items& items, std::string_view name) -> decltype(&items.front()) {
  for (auto& item : items)
    if (item.Matches(name)) return &item;
  return nullptr;
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

// "[name]" is a section header and "key=value" a key; blank lines, comments (";") and anything
// else are kept as they are and never found.
TIniFile::TLine::TLine(std::string text) : Text(std::move(text)) {
  const std::string_view line(Text);
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] == ';') return;
  std::string_view name;
  if (const size_t close = trimmed.find(']'); trimmed[0] == '[' && close != std::string_view::npos) {
    Kind = kSection;
    name = Trim(trimmed.substr(1, close - 1));
  } else if (const size_t equals = trimmed.find('='); equals != std::string_view::npos) {
    Kind = kKey;
    name = Trim(trimmed.substr(0, equals));
    const std::string_view value = Trim(trimmed.substr(equals + 1));
    ValueStart = static_cast<size_t>(value.data() - line.data());
    ValueSize = value.size();
  } else {
    return;
  }
  NameStart = static_cast<size_t>(name.data() - line.data());
  NameSize = name.size();
}

bool TIniFile::TLine::Matches(std::string_view name) const { return Kind != kOther && SameName(Name(), name); }

void TIniFile::TakeLines(std::string_view text) {
  bool first = true;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      if (first) lineEnd_ = "\r\n";
    }
    first = false;
    TLine taken(std::string{line});
    if (taken.Kind == TLine::kSection) sections_.push_back({std::move(taken), {}});
    else (sections_.empty() ? preamble_ : sections_.back().Lines).push_back(std::move(taken));
  }
}

const TIniFile::TSection* TIniFile::FindSection(const std::string& section) const {
  return FindNamed(sections_, section);
}

TIniFile::TSection* TIniFile::FindSection(const std::string& section) { return FindNamed(sections_, section); }

const TIniFile::TLine* TIniFile::FindValue(const std::string& section, const std::string& key) const {
  const TSection* found = FindSection(section);
  return found ? FindNamed(found->Lines, key) : nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  const TLine* line = FindValue(section, key);
  return line ? std::string(line->Value()) : fallback;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const {
  const TLine* line = FindValue(section, key);
  return line ? ParseIniInteger(std::string(line->Value()), fallback) : fallback;
}

void TIniFile::SetValue(const std::string& section, const std::string& key, const std::string& value) {
  TSection* target = FindSection(section);
  if (!target) target = &sections_.emplace_back(TSection{TLine("[" + section + "]"), {}});
  std::vector<TLine>& lines = target->Lines;
  if (TLine* existing = FindNamed(lines, key)) {
    *existing = TLine(std::string(existing->Name()) + "=" + value);
    return;
  }
  auto last = lines.end();
  while (last != lines.begin() && Trim(std::prev(last)->Text).empty()) --last;
  lines.emplace(last, key + "=" + value);
}

void TIniFile::WriteStrings(const std::string& section,
                            const std::vector<std::pair<std::string, std::string>>& values) {
  if (values.empty()) return;
  const std::vector<TSection> before = sections_;
  for (const auto& [key, value] : values) SetValue(section, key, value);
  try {
    Save();
  } catch (...) {
    sections_ = before;
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
  const auto append = [&](const TLine& line) { text.append(line.Text).append(lineEnd_); };
  for (const TLine& line : preamble_) append(line);
  for (const TSection& section : sections_) {
    append(section.Header);
    for (const TLine& line : section.Lines) append(line);
  }
  return text;
}

void TIniFile::Save() const {
  if (inMemory_) return;
  if (const int failure = SaveWholeFile(path_, Text()); failure != 0) throw EIniFile("Cannot write " + path_, failure);
}
