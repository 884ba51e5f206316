// The catalogues we ship: complete in their sources and compiled beside the executable.

#include "MoCatalogue.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {
const std::vector<std::string> kSetupDialogCaptions = {
    "RS-232 settings", " Settings: ", "Port:",  "Baud rate:",      "Data bits:", "Stop bits:", "Parity:",
    "Flow control:",   "Zastosuj",    "Apply settings", "Anuluj", "Cancel settings", "Apply", "Cancel",
};

const std::vector<std::string> kSerialErrorTexts = {
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
    " (win error code: %d)",
};

// msgid -> msgstr of a .po file whose entries are single-line strings, as ours are.
std::map<std::string, std::string> ReadPo(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  const std::regex line(R"re(^(msgid|msgstr) "(.*)"$)re");
  std::map<std::string, std::string> entries;
  std::string id;
  for (std::string text; std::getline(in, text);) {
    std::smatch match;
    if (!std::regex_match(text, match, line)) continue;
    if (match[1] == "msgid")
      id = match[2];
    else if (!id.empty())
      entries[id] = match[2];
  }
  return entries;
}

struct TShipped {
  std::string language;
  std::string domain;
  const std::vector<std::string>* texts;
};

class i18n_ShippedCatalogue : public ::testing::TestWithParam<TShipped> {};

TEST_P(i18n_ShippedCatalogue, TranslatesEveryText) {
  const TShipped& shipped = GetParam();
  const auto po = ReadPo(std::string(SCALEDB_PO_DIR) + "/" + shipped.language + "/" + shipped.domain + ".po");
  const auto mo = TMoCatalogue::Open(std::string(SCALEDB_RUNTIME_DIR) + "/locale/" + shipped.language +
                                     "/LC_MESSAGES/" + shipped.domain + ".mo");
  for (const std::string& text : *shipped.texts) {
    const auto entry = po.find(text);
    ASSERT_NE(entry, po.end()) << '"' << text << "\" is missing";
    EXPECT_FALSE(entry->second.empty()) << '"' << text << "\" is not translated";
    EXPECT_EQ(mo->Find(text).value_or("<absent>"), entry->second) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(i18n_, i18n_ShippedCatalogue,
                         ::testing::Values(TShipped{"pl", "cport", &kSetupDialogCaptions},
                                           TShipped{"de", "cport", &kSetupDialogCaptions},
                                           TShipped{"pl", "default", &kSerialErrorTexts},
                                           TShipped{"de", "default", &kSerialErrorTexts}),
                         [](const auto& info) { return info.param.language + "_" + info.param.domain; });
}  // namespace
