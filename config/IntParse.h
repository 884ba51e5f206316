#pragma once
// The text-to-integer conversion of the settings: optional leading blanks, one sign,
// decimal digits or 1-8 hex digits after "$", "x", "X", "0x" or "0X", nothing after.

#include <cstdint>
#include <optional>
#include <string_view>

std::optional<int32_t> ParseInt32(std::string_view text);

inline int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  return ParseInt32(text).value_or(fallback);
}
