// Text forms of the serial settings.

#include "IniFile.h"
#include "SerialPort.h"

#include <cstdint>
#include <limits>

namespace {
const char* const kBaudTexts[] = {"Custom", "110",   "300",    "600",    "1200",  "2400",  "4800",  "9600",
                                  "14400",  "19200", "38400",  "56000",  "57600", "115200", "128000", "256000"};
const int kBaudValues[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                           14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
const char* const kStopBitsTexts[] = {"1", "1.5", "2"};
const char* const kDataBitsTexts[] = {"5", "6", "7", "8"};
const char* const kParityTexts[] = {"None", "Odd", "Even", "Mark", "Space"};
const char* const kFlowControlTexts[] = {"Hardware", "Software", "None", "Custom"};
const char* const kDtrTexts[] = {"Disable", "Enable", "Handshake"};
const char* const kRtsTexts[] = {"Disable", "Enable", "Handshake", "Toggle"};

// The ordinal of the first text equal to `text` without regard to case, or `fallback`.
template <typename Enum, size_t N>
Enum FromText(const std::string& text, const char* const (&texts)[N], Enum fallback) {
  for (size_t i = 0; i < N; ++i)
    if (SameIniName(text, texts[i])) return static_cast<Enum>(i);
  return fallback;
}

template <size_t N>
std::string TextOf(int ordinal, const char* const (&texts)[N]) {
  return ordinal >= 0 && static_cast<size_t>(ordinal) < N ? texts[ordinal] : std::string();
}

int DigitValue(char c, int base) {
  int value = base;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

// A signed integer, decimal or hexadecimal after "$", with nothing after the digits.
bool ParseCharCode(const std::string& text, int64_t& value) {
  size_t i = 0;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  const bool hex = i < text.size() && text[i] == '$';
  if (hex) ++i;
  const int base = hex ? 16 : 10;
  const size_t first = i;
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0 || i - first >= (hex ? 8u : 10u)) return false;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  if (i == first) return false;
  if (hex) {
    value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
  } else {
    if (magnitude > uint64_t{std::numeric_limits<int32_t>::max()} + (negative ? 1 : 0)) return false;
    value = static_cast<int64_t>(magnitude);
  }
  if (negative) value = -value;
  return true;
}
}  // namespace

int BaudRateValue(TBaudRate rate) { return rate >= brCustom && rate <= br256000 ? kBaudValues[rate] : 0; }

std::string BaudRateText(TBaudRate rate) { return TextOf(rate, kBaudTexts); }
TBaudRate BaudRateFromText(const std::string& text) { return FromText(text, kBaudTexts, br9600); }
std::string StopBitsText(TStopBits bits) { return TextOf(bits, kStopBitsTexts); }
TStopBits StopBitsFromText(const std::string& text) { return FromText(text, kStopBitsTexts, sbOneStopBit); }
std::string DataBitsText(TDataBits bits) { return TextOf(bits, kDataBitsTexts); }
TDataBits DataBitsFromText(const std::string& text) { return FromText(text, kDataBitsTexts, dbEight); }
std::string ParityText(TParityBits bits) { return TextOf(bits, kParityTexts); }
TParityBits ParityFromText(const std::string& text) { return FromText(text, kParityTexts, prNone); }
std::string FlowControlText(TFlowControl summary) { return TextOf(summary, kFlowControlTexts); }
TFlowControl FlowControlFromText(const std::string& text) { return FromText(text, kFlowControlTexts, fcCustom); }
std::string DtrControlText(TDTRFlowControl control) { return TextOf(control, kDtrTexts); }
TDTRFlowControl DtrControlFromText(const std::string& text) { return FromText(text, kDtrTexts, dtrDisable); }
std::string RtsControlText(TRTSFlowControl control) { return TextOf(control, kRtsTexts); }
TRTSFlowControl RtsControlFromText(const std::string& text) { return FromText(text, kRtsTexts, rtsDisable); }

std::string YesNoText(bool value) { return value ? "Yes" : "No"; }
bool YesNoFromText(const std::string& text) { return SameIniName(text, "YES"); }

std::string CharSettingText(uint8_t c) {
  if (c >= 33 && c <= 127) return std::string(1, static_cast<char>(c));
  return "#" + std::to_string(c);
}

uint8_t CharSettingFromText(const std::string& text) {
  if (text.empty()) return 0;
  if (text[0] != '#' || text.size() == 1) return static_cast<uint8_t>(text[0]);
  int64_t value = 0;
  if (!ParseCharCode(text.substr(1), value)) return 0;
  return static_cast<uint8_t>(value & 0xFF);
}
