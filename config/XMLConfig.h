#pragma once
// config.xml (beside the executable, or per user when installed): opened and read at start-up,
// written at shutdown.

#include <pugixml.hpp>

#include <string>
#include <string_view>

// The main window's configuration document.
struct TXMLConfig {
  pugi::xml_document Document;
  bool Open = false;
  // How the loaded file was encoded; a save writes the same form back.
  pugi::xml_encoding Encoding = pugi::encoding_utf8;
  bool ByteOrderMark = false;
  // A file built from nothing gets a declaration; a loaded file keeps what it had.
  bool Declared = true;
};

// The host saved and offered when none is configured; a private-network address.
inline constexpr const char* kDefaultHost = "192.168.1.100";

void OpenConfig(TXMLConfig& config);
void ReadConfig(TXMLConfig& config);
void WriteConfig(TXMLConfig& config);

// OpenConfig over a file's bytes already in memory, for tests and fuzzing.
void OpenConfigFromBytes(TXMLConfig& config, std::string_view bytes);
// The bytes WriteConfig saves, without saving them; empty when it would save nothing.
std::string ConfigBytesToSave(TXMLConfig& config);
