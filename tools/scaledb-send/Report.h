#pragma once
// The --json report, written when every target has ended.

#include "ScaleRunner.h"

#include <string>
#include <vector>

// {"file": ..., "kind": ..., "rows": N, "ignored_datagrams": N, "targets": [{"name", "target",
// "result", "records_sent", "resends", "unexpected_answers", "ignored_datagrams", "seconds",
// "error"}]}, indented, its keys in alphabetical order, ending in a line feed.
std::string ReportJson(const std::string& file, const std::string& kind, int rows,
                       const std::vector<TTargetOutcome>& outcomes, int ignoredDatagrams);
