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
  // Why the file that is there could not be read ("it is larger than 1 MiB"); empty when it was
  // read or is missing. Such a file is moved to KeptAs before a save would replace it.
  std::string LoadFailure;
  // Why the reading of a loaded file stopped early ("the key Host of Interface has no text"): the
  // settings from there on keep the values they had. Empty when every key was read.
  std::string ReadFailure;
  std::string LoadedPath;
  std::string KeptAs;
};

// How a save went: where the settings are now, and what went wrong on the way.
struct TConfigSave {
  std::string SavedTo;  // empty when they could not be saved anywhere
  // Why the usual place did not take them, with the file's name; empty when it did.
  std::string Failure;
};

// The host saved and offered when none is configured; a private-network address.
inline constexpr const char* kDefaultHost = "192.168.1.100";

void OpenConfig(TXMLConfig& config);
void ReadConfig(TXMLConfig& config);
TConfigSave WriteConfig(TXMLConfig& config);

// "<path>.unreadable-20261209-194023": the name a file that could not be read is kept under.
std::string UnreadableKeepName(const std::string& path);

// OpenConfig over a file's bytes already in memory, for tests and fuzzing.
void OpenConfigFromBytes(TXMLConfig& config, std::string_view bytes);
// The bytes WriteConfig saves, without saving them; empty when it would save nothing.
std::string ConfigBytesToSave(TXMLConfig& config);
