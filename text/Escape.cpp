#include "Escape.h"

namespace {
const char kUpperHex[] = "0123456789ABCDEF";
const char kLowerHex[] = "0123456789abcdef";

bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }

bool IsPrintableAscii(unsigned char byte) { return byte >= 0x20 && byte <= 0x7E; }

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

bool IsFileNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

void AppendHex(std::string& out, std::string_view prefix, unsigned char byte, const char* digits = kUpperHex) {
  out += prefix;
  out += digits[byte >> 4];
  out += digits[byte & 15];
}

void AppendOctal(std::string& out, unsigned char byte) {
  out += '\\';
  out += static_cast<char>('0' + (byte >> 6));
  out += static_cast<char>('0' + ((byte >> 3) & 7));
  out += static_cast<char>('0' + (byte & 7));
}

void AppendC(std::string& out, std::string_view bytes, size_t i) {
  const char c = bytes[i];
  const auto byte = static_cast<unsigned char>(c);
  if (c == '\r') out += "\\r";
  else if (c == '\n') out += "\\n";
  else if (c == '\t') out += "\\t";
  else if (c == '\\') out += "\\\\";
  // "\0" would read on into a following octal digit.
  else if (c == '\0' && (i + 1 == bytes.size() || !IsOctalDigit(bytes[i + 1]))) out += "\\0";
  else if (!IsPrintableAscii(byte)) AppendOctal(out, byte);
  else out += c;
}

void AppendJson(std::string& out, char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (c == '"' || c == '\\') {
    out += '\\';
    out += c;
  } else if (byte < 0x20) {
    AppendHex(out, "\\u00", byte, kLowerHex);
  } else {
    out += c;
  }
}

// The escape of the byte at `i`; the C rule looks at the byte after it.
void AppendEscaped(std::string& out, std::string_view bytes, size_t i, TEscape style) {
  const char c = bytes[i];
  const auto byte = static_cast<unsigned char>(c);
  switch (style) {
    case TEscape::HexOutsidePrintable:
      if (IsPrintableAscii(byte)) out += c;
      else AppendHex(out, "\\x", byte);
      return;
    case TEscape::HexControls:
      if (IsControl(byte)) AppendHex(out, "\\x", byte);
      else out += c;
      return;
    case TEscape::C: AppendC(out, bytes, i); return;
    case TEscape::Json: AppendJson(out, c); return;
    case TEscape::Percent:
      if (IsFileNameByte(c)) out += c;
      else AppendHex(out, "%", byte);
      return;
  }
}
}  // namespace

std::string Escaped(std::string_view bytes, TEscape style) {
  std::string escaped;
  escaped.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) AppendEscaped(escaped, bytes, i, style);
  return escaped;
}

TEscapedPrefix EscapedPrefix(std::string_view bytes, TEscape style, size_t maxLength) {
  TEscapedPrefix prefix;
  std::string piece;
  for (size_t i = 0; i < bytes.size(); ++i) {
    piece.clear();
    AppendEscaped(piece, bytes, i, style);
    if (prefix.Text.size() + piece.size() > maxLength) {
      prefix.Whole = false;
      return prefix;
    }
    prefix.Text += piece;
  }
  return prefix;
}
