#pragma once
// What a link to one scale is made of; plain data, so command-line parsers can build it.

#include <cstdint>
#include <string>

struct TLinkSettings {
  enum class TKind { Serial, Tcp, Udp };
  TKind Kind = TKind::Serial;
  // Serial: a "COM<n>" name or a device path; empty keeps the settings file's port.
  std::string SerialPort = "COM1";
  // Serial: bits per second; 0 keeps the settings file's rate.
  int BaudRate = 9600;
  // Serial: the INI file whose [ComPort1] section gives the other settings (as the window keeps
  // them); empty, or a file without them, leaves 8N1 without flow control.
  std::string SerialSettingsFile;
  // TCP and UDP: the scale's address and port.
  std::string Host;
  int32_t Port = 0;
};

// One scale as a run names it.
struct TTarget {
  std::string Name;  // progress lines and the report call it this; the target text when unnamed
  std::string Text;  // the target as written, without its name
  TLinkSettings Link;
  std::string Key;  // the scale it names, once resolved for a run; empty before
};
