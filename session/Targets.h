#pragma once
// The scales to send to, as the command line and a --targets file name them:
// serial:PORT[@BAUD], tcp:HOST:PORT, udp:HOST:PORT, each optionally NAME=TARGET.
// Pure functions over text: nothing is opened or looked up here.

#include "LinkSettings.h"

#include <string>
#include <string_view>
#include <vector>

struct TTargetParse {
  TTarget Target;
  std::string Error;  // why the text is not a target; empty when it is one
};

struct TTargetsParse {
  std::vector<TTarget> Targets;
  std::string Error;  // "line N: ..." for the first bad line; empty when all are good
};

TTargetParse ParseTarget(std::string_view text);
// The text without the blanks (spaces, tabs, carriage returns) around it, as a target line is read.
std::string_view Trimmed(std::string_view text);
// Whether the text starts with a link kind: serial:, tcp: or udp:.
bool HasKindPrefix(std::string_view text);
// The link as a target names it: "serial:COM1@9600" (no rate when it is 0), "tcp:host:port",
// "udp:host:port".
std::string TargetText(const TLinkSettings& link);
// One target per line; blank lines and lines whose first non-blank character is '#' are skipped.
// A UTF-8 byte order mark at the start is skipped too.
TTargetsParse ParseTargetsFile(std::string_view text);
// Why the targets cannot be served together (a name given twice, one scale named twice); empty
// when they can.
std::string DuplicateTargetsError(const std::vector<TTarget>& targets);
