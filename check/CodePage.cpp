#include "CodePage.h"

#include <QString>

#include <iconv.h>

#include <cerrno>

namespace {
// Letters that carry no accent to strip, yet have a plain neighbour.
const std::unordered_map<char32_t, std::string>& LetterNeighbours() {
  static const std::unordered_map<char32_t, std::string> neighbours = {
      {U'ł', "l"},  {U'Ł', "L"},  {U'đ', "d"}, {U'Đ', "D"},  {U'ø', "o"},  {U'Ø', "O"}, {U'ħ', "h"},
      {U'Ħ', "H"},  {U'ı', "i"},  {U'ß', "ss"}, {U'æ', "ae"}, {U'Æ', "AE"}, {U'œ', "oe"}, {U'Œ', "OE"},
      {U'þ', "th"}, {U'Þ', "Th"}, {U'ŧ', "t"}, {U'Ŧ', "T"}};
  return neighbours;
}

class TIconv {
 public:
  TIconv(const std::string& to, const char* from) : handle_(iconv_open(to.c_str(), from)) {}
  ~TIconv() {
    if (Valid()) iconv_close(handle_);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // The whole input converted, or none when any of it cannot be.
  std::optional<std::string> Convert(std::string input) {
    char out[16];
    char* in = input.data();
    size_t inLeft = input.size();
    char* outAt = out;
    size_t outLeft = sizeof out;
    if (iconv(handle_, &in, &inLeft, &outAt, &outLeft) == static_cast<size_t>(-1)) return std::nullopt;
    if (iconv(handle_, nullptr, nullptr, &outAt, &outLeft) == static_cast<size_t>(-1)) return std::nullopt;
    return std::string(out, static_cast<size_t>(outAt - out));
  }

 private:
  iconv_t handle_;
};

std::string Utf8(char32_t character) { return QString::fromUcs4(&character, 1).toStdString(); }

// Judged by what iconv writes, not by the name: a letter must become one byte, and so must every
// character of a few scripts that the code page holds at all.
bool IsSingleByte(const std::string& name) {
  const std::optional<std::string> letter = TIconv(name, "UTF-8").Convert(Utf8(U'A'));
  if (!letter || letter->size() != 1) return false;
  for (const char32_t probe : {U'é', U'ł', U'Ж', U'Ω', U'€', U'中', U'あ'}) {
    const std::optional<std::string> bytes = TIconv(name, "UTF-8").Convert(Utf8(probe));
    if (bytes && bytes->size() > 1) return false;
  }
  return true;
}
}  // namespace

const std::vector<std::string>& KnownCodePages() {
  static const std::vector<std::string> pages = {"CP1250", "ISO-8859-2", "CP852", "CP1252", "ISO-8859-1"};
  return pages;
}

std::pair<char32_t, size_t> DecodeUtf8(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  if (lead < 0xE0) return {char32_t(lead & 0x1F) << 6 | (byte(1) & 0x3F), 2};
  if (lead < 0xF0) return {char32_t(lead & 0x0F) << 12 | char32_t(byte(1) & 0x3F) << 6 | (byte(2) & 0x3F), 3};
  return {char32_t(lead & 0x07) << 18 | char32_t(byte(1) & 0x3F) << 12 | char32_t(byte(2) & 0x3F) << 6 |
              (byte(3) & 0x3F),
          4};
}

TCodePage::TCodePage(std::string name) : name_(std::move(name)) {
  if (!TIconv(name_, "UTF-8").Valid())
    throw ECodePage("The code page \"" + name_ + "\" is not known to this system.");
  if (!IsSingleByte(name_))
    throw ECodePageNotSingleByte("The code page \"" + name_ + "\" is not single-byte; the scale takes one byte per character.");
}

const std::optional<std::string>& TCodePage::Encode(char32_t character) {
  const auto known = encoded_.find(character);
  if (known != encoded_.end()) return known->second;
  TIconv iconv(name_, "UTF-8");
  std::optional<std::string> bytes = iconv.Convert(Utf8(character));
  // A converter that quietly writes its own replacement for a character it lacks still lacks it.
  if (bytes && bytes->empty()) bytes.reset();
  return encoded_.emplace(character, std::move(bytes)).first->second;
}

std::optional<std::string> TCodePage::EncodeText(std::string_view utf8) {
  std::string bytes;
  for (size_t at = 0; at < utf8.size();) {
    const auto [code, length] = DecodeUtf8(utf8, at);
    const std::optional<std::string>& encoded = Encode(code);
    if (!encoded) return std::nullopt;
    bytes += *encoded;
    at += length;
  }
  return bytes;
}

std::string TCodePage::Transliterate(char32_t character) {
  const auto neighbour = LetterNeighbours().find(character);
  if (neighbour != LetterNeighbours().end()) return neighbour->second;
  const QString decomposed = QString::fromUcs4(&character, 1).normalized(QString::NormalizationForm_KD);
  QString base;
  for (const QChar c : decomposed)
    if (c.category() != QChar::Mark_NonSpacing) base += c;
  const std::string plain = base.toStdString();
  return !plain.empty() && EncodeText(plain) ? plain : "?";
}

TCodePage::TConversion TCodePage::Convert(std::string_view utf8, bool transliterate) {
  TConversion conversion;
  conversion.Bytes.reserve(utf8.size());
  size_t at = 0;
  while (at < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[at]);
    if (lead < 0x80) {
      conversion.Bytes += static_cast<char>(lead);
      ++at;
      continue;
    }
    const auto [code, length] = DecodeUtf8(utf8, at);
    const std::optional<std::string>& encoded = Encode(code);
    if (encoded) {
      conversion.Bytes += *encoded;
    } else {
      TMiss miss{at, std::string(utf8.substr(at, length)), {}};
      if (transliterate) {
        miss.Replacement = Transliterate(code);
        conversion.Bytes += *EncodeText(miss.Replacement);
      }
      conversion.Misses.push_back(std::move(miss));
    }
    at += length;
  }
  return conversion;
}
