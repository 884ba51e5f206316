#pragma once
// A shop's list of scales (scales.targets in the settings folder, the format of --targets), read
// and written line for line: a line that names no scale is shown as it stands and kept.

#include "Targets.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TScalesLine {
  std::string Text;               // the line as it stands, without its line feed
  std::optional<TTarget> Target;  // none for a blank line, a comment, or a line that is no target
  std::string Error;              // why a line that is neither blank nor a comment names no scale
};

std::vector<TScalesLine> ParseScalesList(std::string_view text);
// Every line followed by a line feed.
std::string ScalesListText(const std::vector<TScalesLine>& lines);
// The line of a scale: "NAME=tcp:10.12.0.21:4001".
TScalesLine ScalesLineOf(const std::string& name, const TLinkSettings& link);
