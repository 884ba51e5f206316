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

struct TScalesList {
  std::vector<TScalesLine> Lines;
  // The file starts with a UTF-8 byte order mark: no part of its first line, written back.
  bool ByteOrderMark = false;
};

TScalesList ParseScalesList(std::string_view text);
// Every line followed by a line feed.
std::string ScalesListText(const TScalesList& list);
// The line of a scale: "NAME=tcp:10.12.0.21:4001".
TScalesLine ScalesLineOf(const std::string& name, const TLinkSettings& link);
// Why the list cannot hold a scale of this name (empty, '#' first, '=', white space, a link's
// kind first); empty when it can.
std::string ScaleNameError(std::string_view name);
// A line that names no scale, read as far as it goes, to start a form from: the name before '=',
// the link's kind, and the host and port or the serial port and rate where they read. Text that
// names no kind is taken as a host.
TTarget DraftOfLine(std::string_view text);
