// The INI layer on arbitrary file contents: reads never fail, and a write is read back.

#include "IniFile.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/ini_fuzz_" + std::to_string(getpid()) + ".ini";
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  TIniFile ini(path);
  ini.ReadString("ComPort1", "Port", "COM1");
  ini.ReadInteger("ComPort1", "CustomBaudRate", 9600);
  ini.WriteString("ComPort1", "BaudRate", "19200");
  if (TIniFile(path).ReadString("comport1", "BAUDRATE", "") != "19200") std::abort();
  return 0;
}
