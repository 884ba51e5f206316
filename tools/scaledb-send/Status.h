#pragma once
// --status: what each scale holds, from the ledger, as a table or a JSON document.

#include "Ledger.h"

#include <string>
#include <vector>

// One scale a line: name, link, what it holds (against `digest`, when given), last success, last
// attempt with its result and reason; columns padded to their widest cell.
std::string StatusTable(const std::vector<TScaleState>& states, const std::string& digest);
std::string StatusJson(const std::vector<TScaleState>& states, const std::string& file, const std::string& digest);
// Every scale holds the content of `digest`; always true without one.
bool AllHold(const std::vector<TScaleState>& states, const std::string& digest);
