// Feeds arbitrary bytes as config.xml through the start-up and shutdown path.

#include "Global.h"
#include "XMLConfig.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {
const std::string& WorkDirectory() {
  static const std::string directory = [] {
    // tmpfs keeps the save's fsync cheap.
    std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/config-fuzz-XXXXXX" : "/tmp/config-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern + "/";
  }();
  return directory;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetExecutableDirectory(WorkDirectory());
  const std::string path = WorkDirectory() + "config.xml";
  WriteFile(path, data, size);
  ConnectionSettings = {};
  OptionSettings = {};
  {
    TXMLConfig config;
    OpenConfig(config);
    ReadConfig(config);
    WriteConfig(config);
  }
  const bool saved = ReadFile(path) != std::string(reinterpret_cast<const char*>(data), size);
  // A file we saved reads completely again.
  ConnectionSettings = {};
  TXMLConfig reloaded;
  OpenConfig(reloaded);
  ReadConfig(reloaded);
  if (saved && (ConnectionSettings.Port <= 0 || ConnectionSettings.Host.empty())) std::abort();
  return 0;
}
