#include "SendProgram.h"

#include "ContentDigest.h"
#include "DatabaseTable.h"
#include "DryRun.h"
#include "FileCheck.h"
#include "History.h"
#include "Options.h"
#include "PortList.h"
#include "PortSurvey.h"
#include "Progress.h"
#include "Ledger.h"
#include "Metrics.h"
#include "Report.h"
#include "ScaleKey.h"
#include "ScaleRunner.h"
#include "Settings.h"
#include "Status.h"
#include "StopSignals.h"
#include "SessionSystem.h"
#include "System.h"
#include "UDPServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef SCALEDB_VERSION
#define SCALEDB_VERSION "unknown"
#endif

namespace {
constexpr int kSent = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

void Complain(const std::string& message) { std::fprintf(stderr, "scaledb-send: %s\n", message.c_str()); }

// Standard output that minds failures: the first failed write is kept and said once at the end.
class TStandardOutput {
 public:
  // `what` names the text in the error: "the port list", "the dry run".
  explicit TStandardOutput(std::string what) : what_(std::move(what)) {}

  void Put(const std::string& text) {
    if (error_ == 0 && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) error_ = errno;
  }

  // Flushes; false, with the reason said, when any of the text did not go out.
  bool Done() {
    if (error_ == 0 && std::fflush(stdout) != 0) error_ = errno;
    if (error_ != 0) Complain("cannot write " + what_ + " to standard output: " + std::strerror(error_));
    return error_ == 0;
  }

 private:
  std::string what_;
  int error_ = 0;
};

bool PrintWhole(const std::string& text, std::string what) {
  TStandardOutput out(std::move(what));
  out.Put(text);
  return out.Done();
}

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

// A UDP datagram to a broadcast or multicast address would reach every scale, or none, at once.
std::string NotOneScaleTarget(const std::vector<TTarget>& targets) {
  for (const TTarget& target : targets) {
    if (target.Link.Kind != TLinkSettings::TKind::Udp) continue;
    if (const std::string reason = NotOneScaleReason(target.Link.Host); !reason.empty())
      return target.Name + ": " + reason;
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
  if (const std::string refusal = NotOneScaleTarget(options.Targets); !refusal.empty()) return refusal;
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
  if (!PrintWhole(text, "the check")) return kFailed;
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
  TStandardOutput out("the dry run");
  WriteDryRun(std::move(table), options.KindPosition, links, encode, [&out](const std::string& line) { out.Put(line + "\n"); });
  return out.Done() ? kSent : kFailed;
}

// Where the report goes. Checked before anything is sent; a file is written at the end to a
// temporary file beside it and renamed, so a run that is killed keeps the previous report.
class TReportFile {
 public:
  // `what` names the file in the errors: "the report", "the metrics".
  explicit TReportFile(std::string what = "the report") : what_(std::move(what)) {}

  // Why the report cannot go to `path`; empty when it can.
  std::string Open(const std::string& path, const std::vector<std::string>& inputs) {
    path_ = path;
    if (path.empty() || path == "-") return {};
    if (const std::string clash = OverwrittenInput(path, inputs); !clash.empty())
      return what_ + " " + path + " would overwrite " + clash;
    struct stat report {};
    if (::stat(path.c_str(), &report) == 0) direct_ = !S_ISREG(report.st_mode);
    return direct_ ? CheckDirect() : CheckFolder();
  }

  // False, with the reason said, when the report could not be written whole.
  bool Write(const std::string& json) {
    if (path_ == "-") return WriteStandardOutput(json);
    if (direct_) return WriteDirect(json);
    QSaveFile file(QString::fromLocal8Bit(path_.c_str()));
    return WrittenWhole(file, file.open(QIODevice::WriteOnly) && Put(file, json) && file.commit());
  }

 private:
  // The same file by its inode, or, for files not written yet (another output), by its path.
  static std::string OverwrittenInput(const std::string& path, const std::vector<std::string>& inputs) {
    struct stat report {};
    const bool exists = ::stat(path.c_str(), &report) == 0;
    for (const std::string& input : inputs) {
      struct stat info {};
      if (exists && ::stat(input.c_str(), &info) == 0 && info.st_dev == report.st_dev && info.st_ino == report.st_ino)
        return input;
      if (!exists && SamePath(path, input)) return input;
    }
    return {};
  }

  static bool SamePath(const std::string& a, const std::string& b) {
    std::error_code error;
    const std::filesystem::path first = std::filesystem::weakly_canonical(a, error);
    if (error) return false;
    const std::filesystem::path second = std::filesystem::weakly_canonical(b, error);
    return !error && first == second;
  }

  std::string CheckFolder() const {
    QSaveFile probe(QString::fromLocal8Bit(path_.c_str()));
    if (!probe.open(QIODevice::WriteOnly)) return "cannot write " + what_ + " " + path_ + ": " + probe.errorString().toStdString();
    probe.cancelWriting();
    probe.commit();
    return {};
  }

  // A device or a pipe takes the report in place; a pipe without a reader yet is no error.
  std::string CheckDirect() const {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      return {};
    }
    if (errno == ENXIO) return {};
    return "cannot write " + what_ + " " + path_ + ": " + std::strerror(errno);
  }

  bool WriteDirect(const std::string& json) const {
    QFile file(QString::fromLocal8Bit(path_.c_str()));
    return WrittenWhole(file, file.open(QIODevice::WriteOnly) && Put(file, json) && file.flush());
  }

  static bool Put(QFileDevice& file, const std::string& json) {
    return file.write(json.data(), static_cast<qint64>(json.size())) == static_cast<qint64>(json.size());
  }

  // Says why the file did not take the whole text.
  bool WrittenWhole(const QFileDevice& file, bool written) const {
    if (!written) Complain("cannot write " + what_ + " " + path_ + ": " + file.errorString().toStdString());
    return written;
  }

  bool WriteStandardOutput(const std::string& json) const { return PrintWhole(json, what_); }

  std::string what_;
  std::string path_;
  bool direct_ = false;
};

TProgress::TMode ProgressMode(const TSendOptions& options) {
  if (options.Quiet) return TProgress::TMode::Quiet;
  return IsTerminal(STDERR_FILENO) ? TProgress::TMode::Live : TProgress::TMode::Plain;
}

// --ports: the list on standard output, or as JSON where --json says.
int PrintPorts(const TSendOptions& options) {
  const TPortSurvey survey = SurveyPorts(SystemPortRoots(), CurrentUser());
  if (options.JsonPath.empty()) return PrintWhole(PortListText(survey), "the port list") ? kSent : kFailed;
  TReportFile report("the port list");
  if (const std::string error = report.Open(options.JsonPath, {}); !error.empty()) return UsageError(error);
  return report.Write(PortListJson(survey)) ? kSent : kFailed;
}

// --status: the scales named, else every scale the ledger knows; 0 when each holds FILE. The
// ledger is only read: a missing one knows no scale. A ledger that cannot be read, and a FILE
// that no scale listed can hold, are no "all good".
int PrintStatus(TSendOptions& options) {
  if (const std::string error = ReadTargetsFiles(options); !error.empty()) return UsageError(error);
  if (const std::string error = ResolveScaleKeys(options.Targets); !error.empty()) return UsageError(error);
  std::string digest;
  if (!options.File.empty()) {
    std::string readError;
    const std::shared_ptr<const TDatabaseTable> table = ReadTable(options.File, readError);
    if (!table) {
      Complain(readError);
      return kUsage;
    }
    const TFileReport check = CheckFile(*table, TEncodingSettings{options.Encoding, options.Transliterate});
    if (!check.CanSend()) return UsageError("the file cannot be sent: " + RefusalReason(check));
    digest = ContentDigest(*table, options.KindPosition, RowEncoder(check));
  }
  TLedger ledger(StateDirectory(), TLedger::TAccess::Read);
  std::vector<TScaleState> states;
  if (options.Targets.empty()) states = ledger.States();
  for (const TTarget& target : options.Targets) {
    TScaleState state = ledger.State(target.Key).value_or(TScaleState{});
    state.Key = target.Key;
    state.Name = target.Name;
    state.Link = target.Text;
    states.push_back(std::move(state));
  }
  if (const std::string notice = ledger.TakeNotice(); !notice.empty()) {
    Complain(notice);
    return kFailed;
  }
  const std::string text = options.JsonPath.empty() ? StatusTable(states, digest) : StatusJson(states, options.File, digest);
  if (options.JsonPath.empty() || options.JsonPath == "-") {
    if (!PrintWhole(text, "the status")) return kFailed;
  } else {
    TReportFile report;
    if (const std::string error = report.Open(options.JsonPath, {options.File}); !error.empty()) return UsageError(error);
    if (!report.Write(text)) return kFailed;
  }
  // FILE with no scale listed is no scale that holds it: a monitoring script must not read "all good".
  if (!digest.empty() && states.empty()) return kFailed;
  return AllHold(states, digest) ? kSent : kFailed;
}

// After the report: a metrics file that cannot be written is said and fails no send.
void WriteMetrics(const TSendOptions& options, TReportFile& metrics, TLedger& ledger, const TScaleRunner& run,
                  const std::string& digest, const QDateTime& started) {
  const QDateTime ended = QDateTime::currentDateTime();
  std::vector<TTargetOutcome> outcomes;
  std::vector<TScaleMetrics> scales;
  for (size_t target = 0; target < run.Count(); ++target) {
    outcomes.push_back(run.Outcome(target));
    scales.push_back(ScaleMetrics(outcomes.back(), ledger.State(options.Targets[target].Key), digest));
  }
  if (const std::string notice = ledger.TakeNotice(); !notice.empty()) Complain(notice);
  metrics.Write(MetricsText(RunMetrics(options.MetricsPath, started, ended, outcomes), scales));
}

int Send(const TSendOptions& options, std::shared_ptr<const TDatabaseTable> table,
         std::function<std::string(std::string)> encode, TReportFile& report, TReportFile& metrics) {
  const QDateTime started = QDateTime::currentDateTime();
  TLedger ledger(StateDirectory());
  TRunSettings settings;
  settings.Digest = ContentDigest(*table, options.KindPosition, encode);
  settings.Ledger = &ledger;
  settings.OnlyChanged = options.OnlyChanged;
  settings.RowEncoder = std::move(encode);
  settings.File = QFileInfo(QString::fromLocal8Bit(options.File.c_str())).absoluteFilePath().toLocal8Bit().toStdString();
  settings.Kind = options.Kind;
  settings.KindPosition = options.KindPosition;
  settings.PaceMs = options.PaceMs;
  settings.AnswerTimeoutMs = options.AnswerTimeoutMs;
  settings.Retries = options.Retries;
  settings.UdpLocalPort = options.UdpLocalPort;
  settings.SerialSettingsFile = SerialSettingsPath();
  settings.HistoryPath = HistoryPath();
  const int rows = table->RowCount();
  TScaleRunner run(options.Targets, table, settings);

  std::vector<std::string> names, links;
  for (const TTarget& target : options.Targets) {
    names.push_back(target.Name);
    links.push_back(target.Text);
  }
  TProgress progress(ProgressMode(options), stderr, STDERR_FILENO, names, links, rows,
                     [&run](size_t target) { return run.Status(target); });
  QObject::connect(&run, &TScaleRunner::TargetOpened, [&](size_t target) { progress.Started(target); });
  QObject::connect(&run, &TScaleRunner::RecordAcknowledged, [&](size_t target) { progress.Acknowledged(target); });
  QObject::connect(&run, &TScaleRunner::TargetEnded, [&](size_t target) {
    const TTargetOutcome& outcome = run.Outcome(target);
    progress.Ended(target, EndLine(outcome), !Succeeded(outcome.Record.Result));
  });
  QObject::connect(&run, &TScaleRunner::AllEnded, [] { QCoreApplication::exit(); });
  QObject::connect(&run, &TScaleRunner::Notice, [&progress](const std::string& text) { progress.Note("scaledb-send: " + text); });
  if (const std::string notice = ledger.TakeNotice(); !notice.empty()) progress.Note("scaledb-send: " + notice);
  const TStopSignals stopSignals([&run] { run.Interrupt(); });

  run.Start();
  QCoreApplication::exec();

  progress.Finish();
  std::vector<TTargetOutcome> outcomes;
  for (size_t target = 0; target < run.Count(); ++target) outcomes.push_back(run.Outcome(target));
  const bool reported =
      options.JsonPath.empty() || report.Write(ReportJson(settings.File, options.Kind, rows, outcomes, run.IgnoredDatagrams()));
  if (!options.MetricsPath.empty()) WriteMetrics(options, metrics, ledger, run, settings.Digest, started);
  return run.AllSent() && reported ? kSent : kFailed;
}
}  // namespace

int RunSendProgram(const std::vector<std::string>& words) {
  RaiseOpenFilesLimit();
  TCommandLine line = ParseCommandLine(words);
  if (!line.Error.empty()) return UsageError(line.Error);
  TSendOptions& options = line.Options;
  if (options.Help) return PrintWhole(kSendUsage, "the usage") ? kSent : kFailed;
  if (options.Version) return PrintWhole("scaledb-send " SCALEDB_VERSION "\n", "the version") ? kSent : kFailed;
  if (!options.StateDir.empty())
    setenv("SCALEDB_STATE_DIR", QDir(QString::fromLocal8Bit(options.StateDir.c_str())).absolutePath().toLocal8Bit().constData(), 1);
  if (options.Status) return PrintStatus(options);
  if (options.Ports) return PrintPorts(options);
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
  // Resolving names may ask a name server, which a dry run never does.
  if (const std::string error = ResolveScaleKeys(options.Targets); !error.empty()) return UsageError(error);
  PrintWarnings(options, check);
  TReportFile report;
  std::vector<std::string> inputs = options.TargetsFiles;
  inputs.push_back(options.File);
  if (const std::string error = report.Open(options.JsonPath, inputs); !error.empty()) return UsageError(error);
  TReportFile metrics("the metrics");
  if (!options.JsonPath.empty()) inputs.push_back(options.JsonPath);
  if (const std::string error = metrics.Open(options.MetricsPath, inputs); !error.empty()) return UsageError(error);
  return Send(options, std::move(table), RowEncoder(check), report, metrics);
}
