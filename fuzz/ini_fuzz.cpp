// RuzOzodArir.ini from arbitrary bytes: reads never fail, a write is read back, and the serial
// settings restored from it store a file that restores to the same settings.

#include "IniFile.h"
#include "SerialPort.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {
std::string WorkPath(const std::string& name) {
  // tmpfs keeps the many small writes cheap.
  static const std::string directory =
      (std::filesystem::is_directory("/dev/shm") ? "/dev/shm/ini_fuzz_" : "/tmp/ini_fuzz_") + std::to_string(getpid());
  std::filesystem::create_directories(directory);
  return directory + "/" + name;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The settings the program keeps, as they are stored: restored from `from`, saved to `to`.
std::string RestoreAndStore(const std::string& from, const std::string& to) {
  std::filesystem::remove(to);
  TComPort port;
  port.setObjectName("ComPort1");
  port.SetSavedGroups(StoredProp(sgBasic));  // what the program keeps in the file
  try {
    port.RestoreSettings(stIniFile, from);
  } catch (const EComPort&) {
    // A value the port refuses keeps the old one; the rest is restored all the same.
  }
  port.SaveSettings(stIniFile, to);
  return ReadFile(to);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WorkPath("RuzOzodArir.ini");
  WriteFile(path, data, size);
  {
    TIniFile ini(path);
    ini.ReadString("ComPort1", "Port", "COM1");
    ini.ReadInteger("ComPort1", "CustomBaudRate", 9600);
    ini.WriteString("ComPort1", "BaudRate", "19200");
    if (TIniFile(path).ReadString("comport1", "BAUDRATE", "") != "19200") std::abort();
  }
  WriteFile(path, data, size);
  const std::string stored = RestoreAndStore(path, WorkPath("first.ini"));
  if (RestoreAndStore(WorkPath("first.ini"), WorkPath("second.ini")) != stored) std::abort();
  return 0;
}
