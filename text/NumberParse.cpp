#include "NumberParse.h"

#include <algorithm>
#include <charconv>

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::optional<double> ParseNumber(std::string_view text, double minimum, double maximum, TFraction fraction) {
  const auto dots = std::count(text.begin(), text.end(), '.');
  if (!std::any_of(text.begin(), text.end(), IsDigit) || dots > (fraction == TFraction::Allowed ? 1 : 0) ||
      !std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '.'; }))
    return std::nullopt;
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value < minimum || value > maximum) return std::nullopt;
  return value;
}

std::optional<int> ParseWholeNumber(std::string_view text, int minimum, int maximum) {
  const std::optional<double> value = ParseNumber(text, minimum, maximum);
  if (!value) return std::nullopt;
  return static_cast<int>(*value);
}
