#include "Report.h"

#include "JsonText.h"

#include <cstdio>

namespace {
std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

// One line per target, its keys in the order the report documents them.
std::string TargetJson(const TTargetOutcome& outcome) {
  const TTransferRecord& record = outcome.Record;
  return "{\"name\": " + JsonString(outcome.Name) + ", \"target\": " + JsonString(outcome.Target) +
         ", \"result\": " + JsonString(record.Result) + ", \"records_sent\": " + std::to_string(record.RecordsSent) +
         ", \"resends\": " + std::to_string(record.Resends) +
         ", \"unexpected_answers\": " + std::to_string(record.UnexpectedAnswers) +
         ", \"ignored_datagrams\": " + std::to_string(record.IgnoredDatagrams) + ", \"seconds\": " + Seconds(record.Seconds) +
         ", \"error\": " + (record.Result == "sent" || record.Result == "current" ? std::string("null") : JsonString(record.Reason)) + "}";
}
}  // namespace

std::string ReportJson(const std::string& file, const std::string& kind, int rows,
                       const std::vector<TTargetOutcome>& outcomes, int ignoredDatagrams) {
  std::string json = "{\n  \"file\": " + JsonString(file) + ",\n  \"kind\": " + JsonString(kind) +
                     ",\n  \"rows\": " + std::to_string(rows) +
                     ",\n  \"ignored_datagrams\": " + std::to_string(ignoredDatagrams) + ",\n  \"targets\": [";
  for (size_t i = 0; i < outcomes.size(); ++i) json += (i == 0 ? "\n    " : ",\n    ") + TargetJson(outcomes[i]);
  return json + "\n  ]\n}\n";
}
