#include "IniFile.h"

#include "FileSave.h"

#include <algorithm>
#include <array>
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
constexpr std::string_view kBlanks = " \t\r";

// An all-blank text trims to the empty text at its end, still within the line.
std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return text.substr(text.size());
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Every byte with its letter case folded: one lookup a byte where names are compared.
constexpr std::array<unsigned char, 256> kFolded = [] {
  std::array<unsigned char, 256> folded{};
  for (size_t c = 0; c < folded.size(); ++c)
    folded[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return folded;
}();

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

bool SameIniName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (kFolded[static_cast<unsigned char>(a[i])] != kFolded[static_cast<unsigned char>(b[i])]) return false;
  return true;
}

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
TIniFile::TLine TIniFile::Classify(size_t start, size_t size) const {
  TLine line{start, size};
  const std::string_view trimmed = Trim(Bytes(start, size));
  if (trimmed.empty() || trimmed[0] == ';') return line;
  std::string_view name;
  if (const size_t close = trimmed.find(']'); trimmed[0] == '[' && close != std::string_view::npos) {
    line.Kind = TLine::kSection;
    name = Trim(trimmed.substr(1, close - 1));
  } else if (const size_t equals = trimmed.find('='); equals != std::string_view::npos) {
    line.Kind = TLine::kKey;
    name = Trim(trimmed.substr(0, equals));
    const std::string_view value = Trim(trimmed.substr(equals + 1));
    line.ValueStart = static_cast<size_t>(value.data() - text_.data());
    line.ValueSize = value.size();
  } else {
    return line;
  }
  line.NameStart = static_cast<size_t>(name.data() - text_.data());
  line.NameSize = name.size();
  return line;
}

TIniFile::TLine TIniFile::AddLine(std::string_view line) {
  const size_t start = text_.size();
  text_.append(line);
  return Classify(start, line.size());
}

bool TIniFile::Matches(const TLine& line, std::string_view name) const {
  return line.Kind != TLine::kOther && SameIniName(Bytes(line.NameStart, line.NameSize), name);
}

void TIniFile::TakeLines(std::string_view text) {
  text_.assign(text);
  size_t start = 0;
  while (start < text_.size()) {
    const size_t end = std::min(text_.find('\n', start), text_.size());
    size_t size = end - start;
    if (size > 0 && text_[end - 1] == '\r') {
      --size;
      if (start == 0) lineEnd_ = "\r\n";
    }
    const TLine line = Classify(start, size);
    if (line.Kind == TLine::kSection) sections_.push_back({line, {}});
    else (sections_.empty() ? preamble_ : sections_.back().Lines).push_back(line);
    start = end + 1;
  }
}

size_t TIniFile::SectionIndex(std::string_view section) const {
  size_t index = 0;
  while (index < sections_.size() && !Matches(sections_[index].Header, section)) ++index;
  return index;
}

size_t TIniFile::KeyIndex(const TSection& section, std::string_view key) const {
  size_t index = 0;
  while (index < section.Lines.size() && !Matches(section.Lines[index], key)) ++index;
  return index;
}

TIniFile::TSectionReader TIniFile::Section(const std::string& section) const {
  const size_t found = SectionIndex(section);
  return TSectionReader(*this, found == sections_.size() ? nullptr : &sections_[found]);
}

const TIniFile::TLine* TIniFile::FindValue(const TSection* section, const std::string& key) const {
  if (!section) return nullptr;
  const size_t line = KeyIndex(*section, key);
  return line == section->Lines.size() ? nullptr : &section->Lines[line];
}

std::string TIniFile::TSectionReader::ReadString(const std::string& key, const std::string& fallback) const {
  const TLine* line = file_.FindValue(section_, key);
  return line ? std::string(file_.Bytes(line->ValueStart, line->ValueSize)) : fallback;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  return Section(section).ReadString(key, fallback);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const {
  // A missing key reads as the empty text, which parses to the fallback as well.
  return ParseIniInteger(ReadString(section, key, std::string()), fallback);
}

size_t TIniFile::SectionToWrite(const std::string& section) {
  const size_t found = SectionIndex(section);
  if (found == sections_.size()) sections_.push_back({AddLine("[" + section + "]"), {}});
  return found;
}

void TIniFile::SetValue(TSection& section, const std::string& key, const std::string& value) {
  std::vector<TLine>& lines = section.Lines;
  if (const size_t existing = KeyIndex(section, key); existing < lines.size()) {
    const TLine old = lines[existing];
    lines[existing] = AddLine(std::string(Bytes(old.NameStart, old.NameSize)) + "=" + value);
    return;
  }
  size_t last = lines.size();
  while (last > 0 && Trim(Bytes(lines[last - 1].Start, lines[last - 1].Size)).empty()) --last;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last), AddLine(key + "=" + value));
}

void TIniFile::WriteStrings(const std::string& section,
                            const std::vector<std::pair<std::string, std::string>>& values) {
  if (values.empty()) return;
  const std::vector<TSection> before = sections_;
  const size_t textBefore = text_.size();
  TSection& target = sections_[SectionToWrite(section)];
  for (const auto& [key, value] : values) SetValue(target, key, value);
  try {
    Save();
  } catch (...) {
    sections_ = before;
    text_.resize(textBefore);
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
  const auto append = [&](const TLine& line) { text.append(Bytes(line.Start, line.Size)).append(lineEnd_); };
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
