#pragma once
// The transfer history: one JSON line per transfer in transfers.jsonl in the state directory.
// Lines are only ever appended.

#include "TransferRecord.h"

#include <stdexcept>
#include <string>
#include <vector>

class EHistory : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// $SCALEDB_STATE_DIR, else $XDG_STATE_HOME/scaledb/, else ~/.local/state/scaledb/; with a trailing '/'.
std::string StateDirectory();
// transfers.jsonl in the state directory.
std::string HistoryPath();

// The time as it was on the clock, with its offset from UTC also when that is zero:
// 2026-12-09T21:30:05.250+01:00, 2026-12-09T08:48:11.670+00:00.
QString TimeWithOffset(const QDateTime& time);
std::string HistoryTime(const QDateTime& time);

// One line of the history, without its line feed.
std::string HistoryLine(const TTransferRecord& record);
// Reads one line back; false when it is not a history line.
bool ParseHistoryLine(const std::string& line, TTransferRecord& record);

// Appends the record as one line, creating the folder when needed; throws EHistory with the
// reason in words when it cannot.
void AppendHistory(const std::string& path, const TTransferRecord& record);
// The last `count` readable records, newest first; none when the file does not exist.
std::vector<TTransferRecord> ReadHistory(const std::string& path, size_t count);
