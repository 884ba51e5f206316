#pragma once
// Display form of single-byte cell texts: valid UTF-8 as UTF-8, anything else as Windows-1250.

#include <QString>

#include <string_view>

QString DecodeCellText(std::string_view bytes);
QString DecodeWindows1250(std::string_view bytes);
