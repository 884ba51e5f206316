#include "Metrics.h"

#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <functional>

namespace {
// The text of a label value: UTF-8, with backslash, double quote and line feed escaped.
std::string LabelValue(const std::string& bytes) {
  const std::string utf8 = QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
  std::string value;
  for (const char c : utf8) {
    if (c == '\\' || c == '"') value += '\\';
    if (c == '\n') value += "\\n";
    else value += c;
  }
  return value;
}

std::string Number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

// Seconds since 1970; 0 for a time that never was, so an age computed from it is always large.
std::string Timestamp(const std::optional<QDateTime>& time) {
  return time ? Number(static_cast<double>(time->toMSecsSinceEpoch()) / 1000) : "0";
}

class TExposition {
 public:
  explicit TExposition(const std::string& sync) : sync_("sync=\"" + LabelValue(sync) + "\"") {}

  void Family(const char* name, const char* help) {
    name_ = name;
    text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
  }

  void Series(const std::string& labels, const std::string& value) {
    text_ += name_ + "{" + sync_ + labels + "} " + value + "\n";
  }

  void ScaleSeries(const TScaleMetrics& scale, const std::string& value) {
    Series(",scale=\"" + LabelValue(scale.Name) + "\",link=\"" + LabelValue(scale.Link) + "\"", value);
  }

  const std::string& Text() const { return text_; }

 private:
  std::string sync_;
  std::string name_;
  std::string text_;
};

void ScaleFamily(TExposition& out, const std::vector<TScaleMetrics>& scales, const char* name, const char* help,
                 const std::function<std::string(const TScaleMetrics&)>& value) {
  out.Family(name, help);
  for (const TScaleMetrics& scale : scales) out.ScaleSeries(scale, value(scale));
}

std::string Flag(bool on) { return on ? "1" : "0"; }
}  // namespace

TScaleMetrics ScaleMetrics(const TTargetOutcome& outcome, const std::optional<TScaleState>& state,
                           const std::string& digest) {
  TScaleMetrics scale;
  scale.Name = outcome.Name;
  scale.Link = outcome.Target;
  if (state) {
    scale.HoldsFile = state->Holds == TScaleState::THolds::Content && state->Digest == digest;
    scale.LastSuccess = state->LastSuccess;
    scale.LastAttempt = state->LastAttempt;
    scale.LastAttemptFailed = state->LastAttempt && state->LastResult != TTransferResult::Sent;
    scale.LastRecords = state->LastRecords;
    return scale;
  }
  const TTransferRecord& record = outcome.Record;
  scale.HoldsFile = Succeeded(record.Result);
  if (record.Result == TTransferResult::Current) return scale;
  const QDateTime ended = record.Started.addMSecs(static_cast<qint64>(record.Seconds * 1000));
  if (record.Result == TTransferResult::Sent) scale.LastSuccess = ended;
  scale.LastAttempt = record.Started;
  scale.LastAttemptFailed = record.Result != TTransferResult::Sent;
  scale.LastRecords = record.RecordsSent;
  return scale;
}

TRunMetrics RunMetrics(const std::string& metricsPath, const QDateTime& started, const QDateTime& ended,
                       const std::vector<TTargetOutcome>& outcomes) {
  TRunMetrics run;
  QString name = QFileInfo(QString::fromLocal8Bit(metricsPath.c_str())).fileName();
  if (name.endsWith(".prom")) name.chop(5);
  run.Sync = name.toLocal8Bit().toStdString();
  run.Started = started;
  run.Ended = ended;
  for (const TTargetOutcome& outcome : outcomes) {
    if (outcome.Record.Result == TTransferResult::Sent) ++run.Sent;
    else if (outcome.Record.Result == TTransferResult::Current) ++run.Current;
    else ++run.Failed;
  }
  return run;
}

// The service's publish step writes the same family, 1, when a run ended before its metrics.
constexpr const char* kRunAbortedHelp =
    "Whether the last run ended before it sent anything (1): a fault of its conf, price file, targets list or options.";

std::string MetricsText(const TRunMetrics& run, const std::vector<TScaleMetrics>& scales) {
  TExposition out(run.Sync);
  ScaleFamily(out, scales, "scaledb_scale_holds_file", "Whether the scale holds the file of the last run (1) or not (0).",
              [](const TScaleMetrics& scale) { return Flag(scale.HoldsFile); });
  ScaleFamily(out, scales, "scaledb_scale_last_success_timestamp_seconds",
              "When the last transfer that the scale acknowledged whole ended; 0 for never.",
              [](const TScaleMetrics& scale) { return Timestamp(scale.LastSuccess); });
  ScaleFamily(out, scales, "scaledb_scale_last_attempt_timestamp_seconds",
              "When the last attempt to send to the scale began; 0 for never.",
              [](const TScaleMetrics& scale) { return Timestamp(scale.LastAttempt); });
  ScaleFamily(out, scales, "scaledb_scale_last_attempt_failed", "Whether the last attempt to send to the scale failed (1) or not (0).",
              [](const TScaleMetrics& scale) { return Flag(scale.LastAttemptFailed); });
  ScaleFamily(out, scales, "scaledb_scale_last_transfer_records",
              "Records the scale acknowledged in the last transfer that reached it.",
              [](const TScaleMetrics& scale) { return std::to_string(scale.LastRecords); });
  out.Family("scaledb_run_end_timestamp_seconds", "When the last run ended.");
  out.Series("", Timestamp(run.Ended));
  out.Family("scaledb_run_duration_seconds", "How long the last run took.");
  out.Series("", Number(static_cast<double>(run.Started.msecsTo(run.Ended)) / 1000));
  out.Family("scaledb_run_targets", "Targets of the last run by result: sent, current (held the file already) or failed.");
  out.Series(",result=\"sent\"", std::to_string(run.Sent));
  out.Series(",result=\"current\"", std::to_string(run.Current));
  out.Series(",result=\"failed\"", std::to_string(run.Failed));
  out.Family("scaledb_run_aborted", kRunAbortedHelp);
  out.Series("", "0");
  return out.Text();
}
