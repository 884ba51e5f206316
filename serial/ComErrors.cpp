// The messages of EComPort, translated once when the serial library starts.

#include "SerialPort.h"

#include "Translation.h"

#include <vector>

namespace {
const char* const kTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};
constexpr int kCodeCount = sizeof kTexts / sizeof kTexts[0];

// These lookups run while a program starts or while an error is being built, where a broken
// catalogue cannot be shown; they leave its report to a lookup that can.
std::string Translated(const std::string& text) {
  return TranslationInstance().TranslateInDomain("default", text, TFailure::LeaveForNextLookup);
}

const std::vector<std::string>& TranslatedTexts() {
  static const std::vector<std::string> texts = [] {
    AddResourceStringDomain("cport");
    std::vector<std::string> translated;
    for (const char* text : kTexts) translated.push_back(Translated(text));
    return translated;
  }();
  return texts;
}

// The number goes in where the (translated) suffix has "%d"; the suffix is never used as a format.
std::string SystemCodeSuffix(int systemCode) {
  std::string suffix = Translated(" (win error code: %d)");
  const size_t place = suffix.find("%d");
  if (place != std::string::npos) suffix.replace(place, 2, std::to_string(systemCode));
  return suffix;
}

std::string Message(int code, int systemCode) {
  std::string message = ComErrorText(code);
  if (systemCode != -1) message += SystemCodeSuffix(systemCode);
  return message;
}
}  // namespace

void StartSerialLibrary() { TranslatedTexts(); }

std::string ComErrorText(int code) {
  if (code < 1 || code > kCodeCount) return {};
  return TranslatedTexts()[static_cast<size_t>(code - 1)];
}

EComPort::EComPort(int code, int systemCode)
    : std::runtime_error(Message(code, systemCode)), code_(code), systemCode_(systemCode) {}
