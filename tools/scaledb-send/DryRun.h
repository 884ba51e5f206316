#pragma once
// --dry-run: every command of the transfer, framed as it goes on the wire, printed with C escapes.

#include "LinkSettings.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TDatabaseTable;

// Hands on each command of a transfer of the table, in order, as the transfer engine sends them
// when every command is acknowledged.
// `encode` (may be empty) converts each row's text as a session's encoder does.
void ForEachTransferCommand(std::shared_ptr<const TDatabaseTable> table, int kindPosition,
                            const std::function<std::string(std::string)>& encode,
                            const std::function<void(const std::string& command)>& take);

// The dry run's output: one escaped line per command, for each framing the links use (CR LF for
// serial and TCP, a zero byte for UDP), in the order the links first use it.
void WriteDryRun(std::shared_ptr<const TDatabaseTable> table, int kindPosition,
                 const std::vector<TLinkSettings::TKind>& links, const std::function<std::string(std::string)>& encode,
                 const std::function<void(const std::string& line)>& write);
