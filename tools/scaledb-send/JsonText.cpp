#include "JsonText.h"

#include "Escape.h"

#include <QString>

std::string JsonString(const std::string& bytes) {
  const std::string utf8 = QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
  return "\"" + Escaped(utf8, TEscape::Json) + "\"";
}
