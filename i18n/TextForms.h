#pragma once
// Line-break and character checks of the translation layer.

#include <QString>

#include <string>
#include <string_view>

std::string WithoutCarriageReturns(std::string_view text);
// Puts a CR before every LF that has none, the line break the catalogues' users expect.
std::string WithCarriageReturnBeforeLineFeed(std::string_view text);
// Qt breaks lines at LF alone; a CR before it would show as a stray character.
QString WithQtLineBreaks(std::string_view text);
bool IsValidUtf8(std::string_view text);
std::string UpperCase(std::string_view text);
