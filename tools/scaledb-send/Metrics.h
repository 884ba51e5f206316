#pragma once
// --metrics: how the run ended and what each of its scales holds afterwards, in the Prometheus
// text exposition format that node_exporter's textfile collector reads.

#include "Ledger.h"
#include "ScaleRunner.h"

#include <QDateTime>

#include <optional>
#include <string>
#include <vector>

struct TScaleMetrics {
  std::string Name;  // label "scale"
  std::string Link;  // label "link": the target as written, without its name
  bool HoldsFile = false;
  std::optional<QDateTime> LastSuccess;
  std::optional<QDateTime> LastAttempt;
  bool LastAttemptFailed = false;
  int LastRecords = 0;  // records acknowledged in the last transfer that reached the scale
};

struct TRunMetrics {
  // Label "sync" on every series: the files of several runs side by side in one folder never
  // give node_exporter the same series twice.
  std::string Sync;
  QDateTime Started;
  QDateTime Ended;
  int Sent = 0;
  int Current = 0;
  int Failed = 0;
};

// A scale after the run as the ledger keeps it; without the ledger's word, as this run left it.
TScaleMetrics ScaleMetrics(const TTargetOutcome& outcome, const std::optional<TScaleState>& state,
                           const std::string& digest);

// The run's counts and times; `outcomes` are those of every target.
TRunMetrics RunMetrics(const std::string& metricsPath, const QDateTime& started, const QDateTime& ended,
                       const std::vector<TTargetOutcome>& outcomes);

// HELP and TYPE lines, then the series of each family; ends in a line feed.
std::string MetricsText(const TRunMetrics& run, const std::vector<TScaleMetrics>& scales);
