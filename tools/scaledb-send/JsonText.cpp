#include "JsonText.h"

#include <QString>

#include <cstdio>

std::string JsonString(const std::string& bytes) {
  const std::string utf8 = QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
  std::string json = "\"";
  for (const char c : utf8) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}
