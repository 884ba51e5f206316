#include "IntParse.h"

#include <cstdint>

namespace {
constexpr size_t kMaxHexDigits = 8;

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Strips the hex introducer ("$", "x", "X", "0x", "0X"); true when there was one.
bool ConsumeHexPrefix(std::string_view& text) {
  if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
    text.remove_prefix(1);
    return true;
  }
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    return true;
  }
  return false;
}

// Hex is a 32-bit two's-complement pattern, so "-$1" and "$FFFFFFFF" both give -1.
std::optional<int32_t> ParseHex(std::string_view digits, bool negative) {
  if (digits.empty() || digits.size() > kMaxHexDigits) return std::nullopt;
  uint32_t value = 0;
  for (const char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

std::optional<int32_t> ParseDecimal(std::string_view digits, bool negative) {
  if (digits.empty()) return std::nullopt;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t magnitude = 0;
  for (const char c : digits) {
    if (!IsDecimalDigit(c)) return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}
}  // namespace

std::optional<int32_t> ParseInt32(std::string_view text) {
  while (text.starts_with(' ')) text.remove_prefix(1);
  bool negative = false;
  if (text.starts_with('+') || text.starts_with('-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (ConsumeHexPrefix(text)) return ParseHex(text, negative);
  return ParseDecimal(text, negative);
}
