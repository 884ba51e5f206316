#pragma once
// The --json report, written when every target has ended.

#include "SendRun.h"

#include <string>
#include <vector>

// {"file": ..., "kind": ..., "rows": N, "targets": [{"name", "target", "result", "records_sent",
// "resends", "seconds", "error"}]}, indented, ending in a line feed.
std::string ReportJson(const std::string& file, const std::string& kind, int rows,
                       const std::vector<TTargetOutcome>& outcomes);
