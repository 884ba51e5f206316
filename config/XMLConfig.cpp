#include "XMLConfig.h"

void OpenConfig(TXMLConfig&) {}
void ReadConfig(TXMLConfig&) {}
void WriteConfig(TXMLConfig&) {}
