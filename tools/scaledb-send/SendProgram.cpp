#include "SendProgram.h"

#include "DatabaseTable.h"
#include "DryRun.h"
#include "FileCheck.h"
#include "History.h"
#include "Options.h"
#include "Progress.h"
#include "Report.h"
#include "SendRun.h"
#include "Settings.h"
#include "StopSignals.h"
#include "System.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

#ifndef SCALEDB_VERSION
#define SCALEDB_VERSION "unknown"
#endif

namespace {
constexpr int kSent = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

void Complain(const std::string& message) { std::fprintf(stderr, "scaledb-send: %s\n", message.c_str()); }

int UsageError(const std::string& message) {
  Complain(message);
  std::fputs("Try 'scaledb-send --help' for more.\n", stderr);
  return kUsage;
}

// A shop's list of scales is a few kilobytes; anything this large is not one.
constexpr size_t kMaxTargetsFileMiB = 1;

// Adds the targets of every --targets file; the error in words, or empty.
std::string ReadTargetsFiles(TSendOptions& options) {
  for (const std::string& path : options.TargetsFiles) {
    std::string text;
    if (const std::string error = ReadSmallFile(path, kMaxTargetsFileMiB, text); !error.empty())
      return "cannot read the targets file " + path + ": " + error;
    TTargetsParse parse = ParseTargetsFile(text);
    if (!parse.Error.empty()) return path + ": " + parse.Error;
    options.Targets.insert(options.Targets.end(), parse.Targets.begin(), parse.Targets.end());
  }
  return {};
}

// The targets to serve: those given, else the link in the settings; the error in words, or empty.
std::string SettleTargets(TSendOptions& options) {
  const std::string error = ReadTargetsFiles(options);
  if (!error.empty()) return error;
  if (options.Targets.empty()) {
    TTargetParse configured = ConfiguredTarget();
    if (!configured.Error.empty()) return configured.Error;
    options.Targets.push_back(configured.Target);
  }
  return DuplicateTargetsError(options.Targets);
}

std::shared_ptr<const TDatabaseTable> ReadTable(const std::string& path, std::string& error) {
  try {
    TDatabaseLoad load = LoadDatabaseFile(path);
    if (!load.ReadError.empty()) {
      error = load.ReadError;
      return nullptr;
    }
    return std::make_shared<const TDatabaseTable>(std::move(load.Table));
  } catch (const EDatabaseFile& failure) {
    error = failure.what();
    return nullptr;
  }
}

// --check: the report on standard output; 0 when the file can be sent as the options ask.
int PrintCheck(const TSendOptions& options, const TFileReport& report) {
  const std::string text = options.File + ": " + ReportSummary(report) + "\n" + ReportText(report);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return report.CanSend() ? kSent : kUsage;
}

void PrintWarnings(const TSendOptions& options, const TFileReport& report) {
  if (options.Quiet) return;
  for (const std::string& warning : ReportWarnings(report)) Complain("warning: " + warning);
}

std::function<std::string(std::string)> RowEncoder(const TFileReport& report) {
  if (!report.Converts()) return {};
  return TRowEncoder(report);
}

int DryRun(const TSendOptions& options, std::shared_ptr<const TDatabaseTable> table,
           const std::function<std::string(std::string)>& encode) {
  std::vector<TLinkSettings::TKind> links;
  for (const TTarget& target : options.Targets) links.push_back(target.Link.Kind);
  WriteDryRun(std::move(table), options.KindPosition, links, encode, [](const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  });
  return std::fflush(stdout) == 0 ? kSent : kFailed;
}

// Where the report goes: opened before anything is sent, so a report that cannot be written
// stops the run before it starts.
class TReportFile {
 public:
  std::string Open(const std::string& path) {
    if (path.empty() || path == "-") return {};
    file_ = std::make_unique<QFile>(QString::fromLocal8Bit(path.c_str()));
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Truncate))
      return "cannot write the report " + path + ": " + file_->errorString().toStdString();
    return {};
  }
  void Write(const std::string& path, const std::string& json) {
    if (path == "-") {
      std::fputs(json.c_str(), stdout);
      std::fflush(stdout);
    } else if (file_) {
      if (file_->write(json.data(), static_cast<qint64>(json.size())) != static_cast<qint64>(json.size()) || !file_->flush())
        Complain("cannot write the report " + path + ": " + file_->errorString().toStdString());
    }
  }

 private:
  std::unique_ptr<QFile> file_;
};

TProgress::TMode ProgressMode(const TSendOptions& options) {
  if (options.Quiet) return TProgress::TMode::Quiet;
  return IsTerminal(STDERR_FILENO) ? TProgress::TMode::Live : TProgress::TMode::Plain;
}

// Every transfer that started is one line of the history; a history that cannot be written is
// said once.
void AppendToHistory(const TTransferRecord& record, bool& complained) {
  try {
    AppendHistory(HistoryPath(), record);
  } catch (const EHistory& error) {
    if (!complained) Complain(error.what());
    complained = true;
  }
}

int Send(const TSendOptions& options, std::shared_ptr<const TDatabaseTable> table,
         std::function<std::string(std::string)> encode, TReportFile& report) {
  TSendSettings settings;
  settings.RowEncoder = std::move(encode);
  settings.File = QFileInfo(QString::fromLocal8Bit(options.File.c_str())).absoluteFilePath().toLocal8Bit().toStdString();
  settings.Kind = options.Kind;
  settings.KindPosition = options.KindPosition;
  settings.PaceMs = options.PaceMs;
  settings.AnswerTimeoutMs = options.AnswerTimeoutMs;
  settings.Retries = options.Retries;
  settings.UdpLocalPort = options.UdpLocalPort;
  const int rows = table->RowCount();
  TSendRun run(options.Targets, table, settings);

  std::vector<std::string> names, links;
  for (const TTarget& target : options.Targets) {
    names.push_back(target.Name);
    links.push_back(target.Text);
  }
  TProgress progress(ProgressMode(options), stderr, STDERR_FILENO, names, links, rows,
                     [&run](size_t target) { return run.Status(target); });
  bool historyComplained = false;
  QObject::connect(&run, &TSendRun::TargetStarted, [&](size_t target) { progress.Started(target); });
  QObject::connect(&run, &TSendRun::RecordAcknowledged, [&](size_t target) { progress.Acknowledged(target); });
  QObject::connect(&run, &TSendRun::TargetEnded, [&](size_t target) {
    const TTargetOutcome& outcome = run.Outcome(target);
    progress.Ended(target, outcome.EndLine, outcome.Record.Result != "sent");
    if (outcome.TransferStarted) AppendToHistory(outcome.Record, historyComplained);
  });
  QObject::connect(&run, &TSendRun::AllEnded, [] { QCoreApplication::exit(); });
  const TStopSignals stopSignals([&run] { run.Interrupt(); });

  run.Start();
  QCoreApplication::exec();

  progress.Finish();
  std::vector<TTargetOutcome> outcomes;
  for (size_t target = 0; target < run.Count(); ++target) outcomes.push_back(run.Outcome(target));
  if (!options.JsonPath.empty()) report.Write(options.JsonPath, ReportJson(settings.File, options.Kind, rows, outcomes));
  return run.AllSent() ? kSent : kFailed;
}
}  // namespace

int RunSendProgram(const std::vector<std::string>& words) {
  TCommandLine line = ParseCommandLine(words);
  if (!line.Error.empty()) return UsageError(line.Error);
  TSendOptions& options = line.Options;
  if (options.Help) {
    std::fputs(kSendUsage, stdout);
    return kSent;
  }
  if (options.Version) {
    std::puts("scaledb-send " SCALEDB_VERSION);
    return kSent;
  }
  // A check needs no target.
  if (!options.Check) {
    if (const std::string error = SettleTargets(options); !error.empty()) return UsageError(error);
  }
  std::string readError;
  std::shared_ptr<const TDatabaseTable> table = ReadTable(options.File, readError);
  if (!table) {
    Complain(readError);
    return kUsage;
  }
  const TFileReport check = CheckFile(*table, TEncodingSettings{options.Encoding, options.Transliterate});
  if (options.Check) return PrintCheck(options, check);
  if (!check.CanSend()) {
    Complain("the file cannot be sent: " + RefusalReason(check));
    return kUsage;
  }
  if (options.DryRun) return DryRun(options, std::move(table), RowEncoder(check));
  PrintWarnings(options, check);
  TReportFile report;
  if (const std::string error = report.Open(options.JsonPath); !error.empty()) {
    Complain(error);
    return kUsage;
  }
  return Send(options, std::move(table), RowEncoder(check), report);
}
