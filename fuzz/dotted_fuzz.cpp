// The UDP destination address against a plain reading of its rules: four parts split at ".", the
// last one ending at a further "."; each a decimal 32-bit integer with an optional "-", of which
// the low byte counts. Anything else is a conversion error.

#include "UDPServer.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {
std::optional<int64_t> DecimalPart(std::string_view part) {
  const bool negative = !part.empty() && part[0] == '-';
  if (negative) part.remove_prefix(1);
  if (part.empty()) return std::nullopt;
  int64_t magnitude = 0;
  for (const char c : part) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > (int64_t{1} << 32)) return std::nullopt;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return value;
}

std::optional<uint32_t> Reference(std::string_view text) {
  uint32_t address = 0;
  for (int index = 0; index < 4; ++index) {
    const size_t dot = text.find('.');
    const std::optional<int64_t> part = DecimalPart(text.substr(0, dot));
    if (!part) return std::nullopt;
    address = (address << 8) | (static_cast<uint32_t>(*part) & 0xFFu);
    text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  }
  return address;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::optional<uint32_t> parsed;
  try {
    parsed = DottedAddressToIPv4(text);
  } catch (const EConvertError&) {
  }
  if (parsed != Reference(text)) std::abort();
  return 0;
}
