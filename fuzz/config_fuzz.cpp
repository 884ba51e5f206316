// Feeds arbitrary bytes as config.xml through the start-up and shutdown path, in memory: the
// same parse, keys and save bytes the programs use, without the file system in every run.

#include "Global.h"
#include "SettingsLocation.h"
#include "XMLConfig.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

// Folders of their own, so that no run asks the system where the executable and the install tree
// live; nothing is written there.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetExecutableDirectory("/nonexistent/config-fuzz/bin/");
  SetInstallPrefix("/nonexistent/config-fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ConnectionSettings = {};
  OptionSettings = {};
  std::string saved;
  {
    TXMLConfig config;
    OpenConfigFromBytes(config, input);
    ReadConfig(config);
    saved = ConfigBytesToSave(config);
  }
  // A file we saved reads completely again.
  if (saved.empty() || saved == input) return 0;
  ConnectionSettings = {};
  TXMLConfig reloaded;
  OpenConfigFromBytes(reloaded, saved);
  ReadConfig(reloaded);
  if (ConnectionSettings.Port <= 0 || ConnectionSettings.Host.empty()) std::abort();
  return 0;
}
