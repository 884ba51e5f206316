#pragma once
// config.xml beside the executable: opened and read at start-up, written at shutdown.

#include <pugixml.hpp>

// The main window's configuration document.
struct TXMLConfig {
  pugi::xml_document Document;
  bool Open = false;
};

void OpenConfig(TXMLConfig& config);
void ReadConfig(TXMLConfig& config);
void WriteConfig(TXMLConfig& config);
