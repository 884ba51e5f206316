// The settings' integer parse against a plain reading of its rules, written without shortcuts.

#include "IntParse.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {
int DigitValue(char c, int base) {
  int value = 99;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

// Optional blanks, at most one sign, then decimal digits, or one to eight hexadecimal digits after
// "$", "x", "X", "0x" or "0X" giving a 32-bit pattern; nothing after the digits.
std::optional<int32_t> Reference(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  std::string_view digits = text.substr(at);
  int base = 10;
  if (digits.substr(0, 2) == "0x" || digits.substr(0, 2) == "0X") {
    base = 16;
    digits = digits.substr(2);
  } else if (!digits.empty() && (digits[0] == '$' || digits[0] == 'x' || digits[0] == 'X')) {
    base = 16;
    digits = digits.substr(1);
  }
  if (digits.empty() || (base == 16 && digits.size() > 8)) return std::nullopt;
  // Past 2^31 the exact magnitude no longer matters; it only has to stay too large.
  uint64_t magnitude = 0;
  for (const char c : digits) {
    const int digit = DigitValue(c, base);
    if (digit < 0) return std::nullopt;
    magnitude = magnitude * base + static_cast<uint64_t>(digit);
    if (magnitude > (uint64_t{1} << 40)) magnitude = uint64_t{1} << 40;
  }
  if (base == 16) {
    const uint32_t pattern = negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude);
    return static_cast<int32_t>(pattern);
  }
  const int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (ParseInt32(text) != Reference(text)) std::abort();
  if (StrToIntDef(text, 1001) != Reference(text).value_or(1001)) std::abort();
  return 0;
}
