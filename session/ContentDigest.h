#pragma once
// What a transfer puts on a scale, as one number: the same file, database kind and code page
// give the same digest over every link, from the window and from scaledb-send.

#include <functional>
#include <string>

class TDatabaseTable;

// SHA-256, in lower-case hex, over the commands of the whole transfer without a link's framing:
// the start command, every record as it goes out (its row through `encode`, when given), the end
// command, each followed by one line feed.
std::string ContentDigest(const TDatabaseTable& table, int kindPosition,
                          const std::function<std::string(std::string)>& encode);
