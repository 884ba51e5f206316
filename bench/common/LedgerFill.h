#pragma once
// A ledger as a shop's years leave it, made fast for a benchmark.

#include <string>

// Makes a fresh ledger in `stateDirectory` holding `transfers` transfers spread evenly over
// `scales` TCP scales on 127.0.0.1, ports firstPort, firstPort + 1, ...; each scale's last
// transfer is "sent" with `digest`, the others alternate between sent and failed.
void FillLedger(const std::string& stateDirectory, int scales, int transfers, const std::string& digest, int firstPort);
