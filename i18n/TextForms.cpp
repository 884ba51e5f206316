#include "TextForms.h"

#include <optional>

std::string WithoutCarriageReturns(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text)
    if (c != '\r') result += c;
  return result;
}

std::string WithCarriageReturnBeforeLineFeed(std::string_view text) {
  std::string result;
  result.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) result += '\r';
    result += text[i];
  }
  return result;
}

QString WithQtLineBreaks(std::string_view text) {
  QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return result;
}

namespace {
// The length of the sequence a lead byte starts, and the smallest code point it may carry.
struct TSequenceShape {
  size_t Length;
  char32_t Minimum;
};

std::optional<TSequenceShape> SequenceShape(unsigned char lead) {
  if (lead < 0x80) return TSequenceShape{1, 0};
  if ((lead & 0xE0) == 0xC0) return TSequenceShape{2, 0x80};
  if ((lead & 0xF0) == 0xE0) return TSequenceShape{3, 0x800};
  if ((lead & 0xF8) == 0xF0) return TSequenceShape{4, 0x10000};
  return std::nullopt;
}
}  // namespace

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::optional<TSequenceShape> shape = SequenceShape(lead);
    if (!shape || i + shape->Length > text.size()) return false;
    const size_t length = shape->Length;
    char32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < shape->Minimum || codePoint > 0x10FFFF || surrogate) return false;
    i += length;
  }
  return true;
}

std::string UpperCase(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUpper().toStdString();
}
