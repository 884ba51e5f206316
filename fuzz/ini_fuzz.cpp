// RuzOzodArir.ini from arbitrary bytes, in memory: reads never fail, a write is read back, and
// the serial settings restored from it store a file that restores to the same settings.

#include "IniFile.h"
#include "SerialPort.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
// The settings the program keeps, as they are stored: restored from `ini`, saved to a new file.
std::string RestoreAndStore(const TIniFile& ini) {
  TComPort port;
  port.setObjectName("ComPort1");
  port.SetSavedGroups(StoredProp(sgBasic));  // what the program keeps in the file
  try {
    port.RestoreSettings(ini);
  } catch (const EComPort&) {
    // A value the port refuses keeps the old one; the rest is restored all the same.
  }
  TIniFile stored = TIniFile::FromText("");
  port.SaveSettings(stored);
  return stored.Text();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIniFile ini = TIniFile::FromText(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string stored = RestoreAndStore(ini);
  if (RestoreAndStore(TIniFile::FromText(stored)) != stored) std::abort();
  ini.ReadInteger("ComPort1", "CustomBaudRate", 9600);
  ini.WriteString("ComPort1", "BaudRate", "19200");
  if (TIniFile::FromText(ini.Text()).ReadString("comport1", "BAUDRATE", "") != "19200") std::abort();
  return 0;
}
