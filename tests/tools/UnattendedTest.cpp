// scaledb-sync@.service and its timer and path units: they verify, the conf becomes the command
// line, and run as systemd runs them against scale simulators, every scale converges to the
// current file while the metrics say which one does not.

#include "ScaleSimProcess.h"
#include "TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {
constexpr int kRunTimeoutMs = 60000;
const std::string kUnitsDir = SCALEDB_UNITS_DIR;

struct TResult {
  int ExitCode = -1;
  std::string Journal;  // standard output and error, as the journal keeps them
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

QStringList Words(const std::vector<std::string>& words) {
  QStringList list;
  for (const std::string& word : words) list << QString::fromStdString(word);
  return list;
}

std::vector<std::string> SplitWords(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TResult Execute(const std::string& program, const std::vector<std::string>& arguments,
                const QProcessEnvironment& environment, const std::string& folder = {}) {
  QProcess process;
  process.setProcessEnvironment(environment);
  process.setProcessChannelMode(QProcess::MergedChannels);
  if (!folder.empty()) process.setWorkingDirectory(QString::fromStdString(folder));
  process.start(QString::fromStdString(program), Words(arguments));
  EXPECT_TRUE(process.waitForFinished(kRunTimeoutMs)) << program << " did not end";
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          process.readAll().toStdString()};
}

// One Exec line of the unit: its prefixes ('-' ignores a failure, '+' runs as root) and its words.
struct TExec {
  std::string Key;
  bool FailureIgnored = false;
  std::vector<std::string> Words;
};

std::vector<TExec> ExecLines(const std::string& unitText, const std::string& instance) {
  std::vector<TExec> lines;
  for (const std::string& line : Lines(unitText)) {
    const size_t equals = line.find('=');
    if (!line.starts_with("Exec") || equals == std::string::npos) continue;
    TExec exec;
    exec.Key = line.substr(0, equals);
    std::string command = line.substr(equals + 1);
    const size_t start = command.find_first_not_of("-+!@:");
    exec.FailureIgnored = command.substr(0, start).find('-') != std::string::npos;
    command = command.substr(start);
    for (size_t at; (at = command.find("%i")) != std::string::npos;) command.replace(at, 2, instance);
    exec.Words = SplitWords(command);
    lines.push_back(exec);
  }
  return lines;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value of the series of `name` whose labels include `labels`; empty when there is none.
std::string Metric(const std::string& metrics, const std::string& name, const std::string& labels) {
  for (const std::string& line : Lines(metrics))
    if (line.starts_with(name + "{") && Contains(line.substr(0, line.find('}')), labels))
      return line.substr(line.rfind(' ') + 1);
  return {};
}

std::string Scale(const std::string& name) { return "scale=\"" + name + "\""; }

std::string Rows(const std::vector<std::string>& rows) {
  std::string file;
  for (const std::string& row : rows) file += row + "\n";
  return file;
}

// What the scale logs of one whole transfer of `rows`.
std::string Transfer(const std::vector<std::string>& rows) {
  std::string log = "SbP\n";
  for (const std::string& row : rows) log += "Sr" + row + "\n";
  return log + "Se\n";
}

// The folders systemd gives the instance (StateDirectory=, ConfigurationDirectory=), a clean
// environment as systemd starts a service with, and the instance's conf.
class Unattended : public ::testing::Test {
 protected:
  Unattended() {
    std::filesystem::create_directories(dir.File("conf"));
    std::filesystem::create_directories(dir.File("state"));
    std::filesystem::create_directories(dir.File("metrics"));
    environment.insert("PATH", "/usr/local/bin:/usr/bin:/bin");
    environment.insert("LANG", "C.UTF-8");
    environment.insert("HOME", "/");
    // Only the command line's own runs would use it: the service's always name the state folder.
    environment.insert("XDG_STATE_HOME", QString::fromStdString(dir.File("xdg-state")));
    environment.insert("STATE_DIRECTORY", QString::fromStdString(dir.File("state")));
    environment.insert("CONFIGURATION_DIRECTORY", QString::fromStdString(dir.File("conf")));
    // The locks stay the test run's own (tests/common/QtTestMain.cpp).
    environment.insert("SCALEDB_LOCK_DIR", qEnvironmentVariable("SCALEDB_LOCK_DIR"));
  }

  void WriteConf(const std::string& instance, const std::string& text) { dir.Write("conf/" + instance + ".conf", text); }

  // A conf over prices.csv and shop.targets of the test folder, and metrics into metrics/.
  std::string Conf(const std::string& options) const {
    return "# the test shop\nFILE=" + dir.File("prices.csv") + "\nTARGETS=\"" + dir.File("shop.targets") +
           "\"\nOPTIONS=" + options + "\nMETRICS=" + dir.File("metrics") + "\n";
  }

  // The Exec lines of scaledb-sync@INSTANCE.service in order, as systemd runs them: a start step
  // that fails skips the rest of the start, the stop step always runs.
  TResult RunService(const std::string& instance) {
    TResult service{0, {}};
    for (const TExec& exec : ExecLines(ReadFile(kUnitsDir + "/scaledb-sync@.service"), instance)) {
      if (exec.Key != "ExecStopPost" && service.ExitCode != 0) continue;
      const TResult step = Execute(exec.Words[0], {exec.Words.begin() + 1, exec.Words.end()}, environment);
      service.Journal += step.Journal;
      if (step.ExitCode != 0 && !exec.FailureIgnored && service.ExitCode == 0) service.ExitCode = step.ExitCode;
    }
    return service;
  }

  std::string PublishedMetrics(const std::string& instance) const {
    return dir.Read("metrics/scaledb-sync@" + instance + ".prom");
  }

  TTempDir dir;
  QProcessEnvironment environment;
};

TEST_F(Unattended, TheTimerThePathAndTheServiceVerify) {
  const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
  if (analyze.isEmpty()) GTEST_SKIP() << "systemd-analyze is missing (package systemd): the units are not verified";
  for (const char* unit : {"scaledb-sync@shop12.service", "scaledb-sync@shop12.timer", "scaledb-sync@shop12.path"}) {
    const TResult verify =
        Execute(analyze.toStdString(), {"verify", "--man=no", kUnitsDir + "/" + unit}, QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(verify.ExitCode, 0) << unit << ":\n" << verify.Journal;
    EXPECT_EQ(verify.Journal, "") << unit << ": every setting is known and every command exists";
  }
}

TEST_F(Unattended, TheConfBecomesTheCommandLineAndBadInputFailsInWordsBeforeAnythingIsSent) {
  dir.Write("prices.csv", "1;Ser\n");
  TScaleSimProcess scale({"--tcp", "0", "--log", dir.File("scale.log")});
  dir.Write("shop.targets", "deli=tcp:127.0.0.1:" + std::to_string(scale.TcpPort()) + "\n");

  WriteConf("shop12", Conf("--encoding CP1250  --kind users"));
  const TResult command = Execute(kUnitsDir + "/scaledb-sync", {"command", "shop12"}, environment);
  ASSERT_EQ(command.ExitCode, 0) << command.Journal;
  const std::string state = dir.File("state");
  EXPECT_EQ(Lines(command.Journal),
            (std::vector<std::string>{std::string(SCALEDB_SEND_PATH), "--only-changed", "--state-dir", state, "--targets",
                                      dir.File("shop.targets"), "--metrics", state + "/metrics/shop12.prom", "--encoding",
                                      "CP1250", "--kind", "users", "--", dir.File("prices.csv")}));

  const std::string conf = dir.File("conf/shop12.conf");
  const struct {
    const char* Case;
    std::string Conf;  // empty: no conf at all
    std::string Said;
  } cases[] = {
      {"no conf", "", conf + " does not exist: it names the price file (FILE=) and the targets list (TARGETS=)"},
      {"missing price file", "FILE=" + dir.File("gone.csv") + "\nTARGETS=" + dir.File("shop.targets") + "\nMETRICS=none\n",
       "the price file " + dir.File("gone.csv") + " (FILE= in " + conf + ") does not exist"},
      {"missing targets list", "FILE=" + dir.File("prices.csv") + "\nTARGETS=" + dir.File("gone.targets") + "\nMETRICS=none\n",
       "the targets list " + dir.File("gone.targets") + " (TARGETS= in " + conf + ") does not exist"},
      {"no targets list named", "FILE=" + dir.File("prices.csv") + "\n", conf + " names no targets list (TARGETS=)"},
      {"misspelt setting", Conf("") + "TARGET=" + dir.File("shop.targets") + "\n",
       conf + " line 6: unknown setting TARGET (known: FILE, TARGETS, OPTIONS, METRICS)"},
      {"not a setting", Conf("") + "--pace 2\n", conf + " line 6 is not KEY=VALUE: --pace 2"},
      {"unknown option", Conf("--fast"), "scaledb-send: unknown option '--fast'"},
      {"missing metrics folder", Conf("") + "METRICS=" + dir.File("no-metrics") + "\n",
       "the metrics folder " + dir.File("no-metrics") + " (METRICS= in " + conf + ") does not exist"},
      {"metrics folder that cannot be written", Conf("") + "METRICS=/sys\n",
       "the metrics folder /sys cannot be written: Permission denied"},
  };
  for (const auto& bad : cases) {
    std::filesystem::remove(conf);
    if (!bad.Conf.empty()) WriteConf("shop12", bad.Conf);
    const TResult service = RunService("shop12");
    EXPECT_EQ(service.ExitCode, 2) << bad.Case << ":\n" << service.Journal;
    EXPECT_TRUE(Contains(service.Journal, bad.Said + "\n")) << bad.Case << ":\n" << service.Journal;
    EXPECT_EQ(Lines(service.Journal).size(), bad.Case == std::string("unknown option") ? 2u : 1u)
        << bad.Case << ": the reason once:\n" << service.Journal;
  }
  scale.Stop();
  EXPECT_EQ(dir.Read("scale.log"), "") << "nothing was sent";
}

TEST_F(Unattended, EveryScaleConvergesToTheCurrentFileAndTheMetricsNameTheOneThatDoesNot) {
  std::vector<std::unique_ptr<TScaleSimProcess>> scales;
  std::string targets;
  for (const char* name : {"deli", "bakery", "produce"}) {
    scales.push_back(std::make_unique<TScaleSimProcess>(
        std::vector<std::string>{"--tcp", "0", "--log", dir.File(std::string(name) + ".log")}));
    targets += std::string(name) + "=tcp:127.0.0.1:" + std::to_string(scales.back()->TcpPort()) + "\n";
  }
  const int producePort = scales.back()->TcpPort();
  dir.Write("shop.targets", targets);
  WriteConf("shop12", Conf("--pace 2 --answer-timeout 0.5"));
  const std::vector<std::string> monday{"1;Ser;4.99", "2;Chleb;2.49"};
  const std::vector<std::string> tuesday{"1;Ser;5.19", "2;Chleb;2.49", "3;Mleko;1.99"};
  const std::vector<std::string> wednesday{"1;Ser;5.29"};

  dir.Write("prices.csv", Rows(monday));
  const TResult first = RunService("shop12");
  EXPECT_EQ(first.ExitCode, 0) << first.Journal;
  for (const char* name : {"deli", "bakery", "produce"}) EXPECT_EQ(dir.Read(std::string(name) + ".log"), Transfer(monday)) << name;
  std::string metrics = PublishedMetrics("shop12");
  EXPECT_EQ(metrics, dir.Read("state/metrics/shop12.prom")) << "published whole";
  EXPECT_EQ(Metric(metrics, "scaledb_run_targets", "result=\"sent\""), "3") << metrics;
  for (const char* name : {"deli", "bakery", "produce"}) {
    EXPECT_EQ(Metric(metrics, "scaledb_scale_holds_file", Scale(name)), "1") << metrics;
    EXPECT_EQ(Metric(metrics, "scaledb_scale_last_transfer_records", Scale(name)), "2") << metrics;
  }
  for (const auto& entry : std::filesystem::directory_iterator(qEnvironmentVariable("SCALEDB_LOCK_DIR").toStdString()))
    EXPECT_EQ(std::filesystem::status(entry).permissions() & std::filesystem::perms::all, std::filesystem::perms(0666))
        << entry.path() << ": the window's users and the service's user open the same lock";

  QElapsedTimer round;
  round.start();
  const TResult second = RunService("shop12");
  const qint64 roundMs = round.elapsed();
  EXPECT_EQ(second.ExitCode, 0) << second.Journal;
  for (const char* name : {"deli", "bakery", "produce"}) EXPECT_EQ(dir.Read(std::string(name) + ".log"), Transfer(monday)) << name;
  metrics = PublishedMetrics("shop12");
  EXPECT_EQ(Metric(metrics, "scaledb_run_targets", "result=\"current\""), "3") << metrics;
  EXPECT_EQ(Metric(metrics, "scaledb_run_targets", "result=\"sent\""), "0") << metrics;
  std::printf("A round where every scale holds the file: %lld ms for the service's three steps, %s s in scaledb-send\n",
              static_cast<long long>(roundMs), Metric(metrics, "scaledb_run_duration_seconds", "sync=").c_str());

  dir.Write("prices.csv", Rows(tuesday));
  const TResult third = RunService("shop12");
  EXPECT_EQ(third.ExitCode, 0) << third.Journal;
  for (const char* name : {"deli", "bakery", "produce"})
    EXPECT_EQ(dir.Read(std::string(name) + ".log"), Transfer(monday) + Transfer(tuesday)) << name;
  const std::string produceSuccess =
      Metric(PublishedMetrics("shop12"), "scaledb_scale_last_success_timestamp_seconds", Scale("produce"));

  scales.back()->Stop();
  scales.back() = std::make_unique<TScaleSimProcess>(
      std::vector<std::string>{"--tcp", std::to_string(producePort), "--drop-every", "1", "--log", dir.File("silent.log")});
  dir.Write("prices.csv", Rows(wednesday));
  const TResult fourth = RunService("shop12");
  EXPECT_EQ(fourth.ExitCode, 1) << fourth.Journal;
  EXPECT_TRUE(Contains(fourth.Journal, "produce: failed at record 1 of 1: The scale did not answer within 0.5 s (record 1 of 1).\n"))
      << fourth.Journal;
  for (const char* name : {"deli", "bakery"})
    EXPECT_EQ(dir.Read(std::string(name) + ".log"), Transfer(monday) + Transfer(tuesday) + Transfer(wednesday)) << name;
  metrics = PublishedMetrics("shop12");
  EXPECT_EQ(metrics, dir.Read("state/metrics/shop12.prom")) << "a failed run is published too";
  EXPECT_EQ(Metric(metrics, "scaledb_run_targets", "result=\"sent\""), "2") << metrics;
  EXPECT_EQ(Metric(metrics, "scaledb_run_targets", "result=\"failed\""), "1") << metrics;
  for (const char* name : {"deli", "bakery"}) {
    EXPECT_EQ(Metric(metrics, "scaledb_scale_holds_file", Scale(name)), "1") << metrics;
    EXPECT_EQ(Metric(metrics, "scaledb_scale_last_attempt_failed", Scale(name)), "0") << metrics;
  }
  EXPECT_EQ(Metric(metrics, "scaledb_scale_holds_file", Scale("produce")), "0") << metrics;
  EXPECT_EQ(Metric(metrics, "scaledb_scale_last_attempt_failed", Scale("produce")), "1") << metrics;
  EXPECT_EQ(Metric(metrics, "scaledb_scale_last_success_timestamp_seconds", Scale("produce")), produceSuccess)
      << "its last success is still Tuesday's";
  EXPECT_EQ(Metric(metrics, "scaledb_scale_last_transfer_records", Scale("produce")), "0") << metrics;
  EXPECT_EQ(Metric(metrics, "scaledb_run_aborted", "sync="), "0") << metrics;

  std::filesystem::remove(dir.File("prices.csv"));
  const TResult fifth = RunService("shop12");
  EXPECT_EQ(fifth.ExitCode, 2) << fifth.Journal;
  metrics = PublishedMetrics("shop12");
  EXPECT_EQ(Metric(metrics, "scaledb_run_aborted", "sync=\"shop12\""), "1") << metrics;
  EXPECT_FALSE(Contains(metrics, "scaledb_scale_holds_file")) << "no earlier run's scales pass for this one's:\n" << metrics;
}

TEST_F(Unattended, PromtoolAcceptsTheMetrics) {
  const QString promtool = QStandardPaths::findExecutable("promtool");
  if (promtool.isEmpty()) GTEST_SKIP() << "promtool is missing (package prometheus, scripts/install-deps): the metrics are not checked";
  dir.Write("prices.csv", "1;Ser\n2;Chleb\n");
  TScaleSimProcess scale({"--tcp", "0"});
  const std::string metricsPath = dir.File("metrics/shop 12.prom");
  const TResult send = Execute(SCALEDB_SEND_PATH,
                               {"--pace", "2", "--state-dir", dir.File("state"), "--metrics", metricsPath, dir.File("prices.csv"),
                                "Wagi \"Ł\\1\"=tcp:127.0.0.1:" + std::to_string(scale.TcpPort()), "closed=tcp:127.0.0.1:9"},
                               environment);
  EXPECT_EQ(send.ExitCode, 1) << send.Journal;
  const std::string metrics = ReadFile(metricsPath);
  EXPECT_EQ(Metric(metrics, "scaledb_scale_holds_file", "scale=\"Wagi \\\"Ł\\\\1\\\"\""), "1") << metrics;
  EXPECT_EQ(Metric(metrics, "scaledb_scale_holds_file", Scale("closed")), "0") << metrics;
  EXPECT_TRUE(Contains(metrics, "scaledb_run_end_timestamp_seconds{sync=\"shop 12\"} ")) << metrics;

  QProcess check;
  check.setProcessChannelMode(QProcess::MergedChannels);
  check.start(promtool, {"check", "metrics"});
  check.write(QByteArray::fromStdString(metrics));
  check.closeWriteChannel();
  ASSERT_TRUE(check.waitForFinished(kRunTimeoutMs));
  EXPECT_EQ(check.exitCode(), 0) << check.readAll().toStdString() << metrics;
  EXPECT_EQ(check.readAll().toStdString(), "") << "no lint remark";
}

// Minute by minute: deli stops holding the file at minute 1, its last success a minute after the
// epoch; produce was never sent to and never holds it; bakery holds it with a success long ago,
// which is no fault. The instance's runs stop at minute 60 and one aborts at minute 30.
TEST_F(Unattended, TheAlertRulesFireForAScaleBehindWithoutSuccessNeverSentAndAnInstanceThatAbortsOrStops) {
  const QString promtool = QStandardPaths::findExecutable("promtool");
  if (promtool.isEmpty()) GTEST_SKIP() << "promtool is missing (package prometheus, scripts/install-deps): the rules are not tested";
  const std::string host = "instance=\"shop12:9100\"";
  auto scale = [&](const char* name, const char* link) {
    return "sync=\"shop12\",scale=\"" + std::string(name) + "\",link=\"" + link + "\"," + host;
  };
  const std::string deli = scale("deli", "tcp:10.12.0.21:4001");
  const std::string bakery = scale("bakery", "tcp:10.12.0.22:4001");
  const std::string produce = scale("produce", "tcp:10.12.0.23:4001");
  const std::string run = "sync=\"shop12\"," + host;
  auto labels = [](const char* severity, const char* name, const char* link) {
    return "{severity: " + std::string(severity) + ", sync: shop12, scale: " + name + ", link: \"" + link +
           "\", instance: \"shop12:9100\"}";
  };
  auto alert = [](const char* at, const char* name, const std::string& labels, const std::string& summary) {
    return "      - eval_time: " + std::string(at) + "\n        alertname: " + name +
           "\n        exp_alerts:\n          - exp_labels: " + labels + "\n            exp_annotations:\n" + summary;
  };
  auto none = [](const char* at, const char* name) {
    return "      - {eval_time: " + std::string(at) + ", alertname: " + name + ", exp_alerts: []}\n";
  };
  const std::string runLabels = "{severity: warning, sync: shop12, instance: \"shop12:9100\"}";
  dir.Write("rules_test.yml",
            "rule_files: ['" + std::string(SCALEDB_RULES_PATH) + "']\n"
            "evaluation_interval: 1m\n"
            "tests:\n"
            "  - interval: 1m\n"
            "    input_series:\n"
            "      - {series: 'scaledb_scale_holds_file{" + deli + "}', values: '1 0x1600'}\n"
            "      - {series: 'scaledb_scale_last_success_timestamp_seconds{" + deli + "}', values: '60x1600'}\n"
            "      - {series: 'scaledb_scale_holds_file{" + bakery + "}', values: '1x1600'}\n"
            "      - {series: 'scaledb_scale_last_success_timestamp_seconds{" + bakery + "}', values: '60x1600'}\n"
            "      - {series: 'scaledb_scale_holds_file{" + produce + "}', values: '0x1600'}\n"
            "      - {series: 'scaledb_scale_last_success_timestamp_seconds{" + produce + "}', values: '0x1600'}\n"
            "      - {series: 'scaledb_run_end_timestamp_seconds{" + run + "}', values: '0+60x60 3600x1540'}\n"
            "      - {series: 'scaledb_run_aborted{" + run + "}', values: '0x29 1 0x1570'}\n"
            "    alert_rule_test:\n" +
            none("59m", "ScaleBehindPriceFile") +
            alert("62m", "ScaleBehindPriceFile", labels("warning", "deli", "tcp:10.12.0.21:4001"),
                  "              summary: 'Scale deli (tcp:10.12.0.21:4001) on shop12:9100 has not held the current price file for 1 h'\n"
                  "              description: 'journalctl -u scaledb-sync@shop12 on shop12:9100 says why.'\n") +
            "          - exp_labels: " + labels("warning", "produce", "tcp:10.12.0.23:4001") + "\n"
            "            exp_annotations:\n"
            "              summary: 'Scale produce (tcp:10.12.0.23:4001) on shop12:9100 has not held the current price file for 1 h'\n"
            "              description: 'journalctl -u scaledb-sync@shop12 on shop12:9100 says why.'\n" +
            none("23h", "ScaleWithoutSuccess") +
            alert("25h", "ScaleWithoutSuccess", labels("critical", "deli", "tcp:10.12.0.21:4001"),
                  "              summary: 'Scale deli (tcp:10.12.0.21:4001) on shop12:9100 has had no successful transfer for 24 h'\n") +
            none("23h", "ScaleNeverSent") +
            alert("25h", "ScaleNeverSent", labels("critical", "produce", "tcp:10.12.0.23:4001"),
                  "              summary: 'Scale produce (tcp:10.12.0.23:4001) on shop12:9100 has not been sent a file in the 24 h since it was named'\n") +
            none("29m", "SyncRunAborted") +
            alert("30m", "SyncRunAborted", runLabels,
                  "              summary: 'scaledb-sync@shop12 on shop12:9100 ended before it sent anything'\n"
                  "              description: 'journalctl -u scaledb-sync@shop12 on shop12:9100 names the fault of its conf or files.'\n") +
            none("31m", "SyncRunAborted") + none("119m", "SyncNotRunning") +
            alert("121m", "SyncNotRunning", runLabels,
                  "              summary: 'scaledb-sync@shop12 on shop12:9100 has not run for an hour'\n"));
  const TResult test = Execute(promtool.toStdString(), {"test", "rules", dir.File("rules_test.yml")}, environment);
  EXPECT_EQ(test.ExitCode, 0) << test.Journal << dir.Read("rules_test.yml");
}

TEST_F(Unattended, AMetricsFolderThatCannotBeWrittenStopsTheRunAndAMetricsFileThatFailsAtTheEndFailsNoSend) {
  dir.Write("prices.csv", "1;Ser\n2;Chleb\n3;Mleko\n");
  TScaleSimProcess scale({"--tcp", "0", "--delay", "150", "--log", dir.File("scale.log")});
  const std::string target = "tcp:127.0.0.1:" + std::to_string(scale.TcpPort());

  const TResult refused = Execute(SCALEDB_SEND_PATH, {"--metrics", dir.File("gone/shop.prom"), dir.File("prices.csv"), target}, environment);
  EXPECT_EQ(refused.ExitCode, 2) << refused.Journal;
  EXPECT_TRUE(Contains(refused.Journal, "scaledb-send: cannot write the metrics " + dir.File("gone/shop.prom") + ": ")) << refused.Journal;
  EXPECT_EQ(dir.Read("scale.log"), "") << "nothing was sent";

  std::filesystem::create_directories(dir.File("vanishing"));
  QProcess send;
  send.setProcessEnvironment(environment);
  send.setProcessChannelMode(QProcess::MergedChannels);
  send.start(SCALEDB_SEND_PATH, Words({"--pace", "2", "--json", dir.File("report.json"), "--metrics", dir.File("vanishing/shop.prom"),
                                       dir.File("prices.csv"), target}));
  QElapsedTimer waited;
  waited.start();
  while (dir.Read("scale.log").empty() && waited.elapsed() < kRunTimeoutMs) QThread::msleep(10);
  std::filesystem::remove_all(dir.File("vanishing"));
  ASSERT_TRUE(send.waitForFinished(kRunTimeoutMs));
  const std::string said = send.readAll().toStdString();
  EXPECT_EQ(send.exitCode(), 0) << said;
  EXPECT_TRUE(Contains(said, "scaledb-send: cannot write the metrics " + dir.File("vanishing/shop.prom") + ": ")) << said;
  EXPECT_TRUE(Contains(dir.Read("report.json"), "\"result\": \"sent\"")) << dir.Read("report.json");
  scale.Stop();
  EXPECT_EQ(dir.Read("scale.log"), Transfer({"1;Ser", "2;Chleb", "3;Mleko"}));
}

TEST_F(Unattended, TheBashCompletionOffersOptionsValuesFilesAndTargetPrefixes) {
  std::filesystem::create_directories(dir.File("shop"));
  dir.Write("shop/prices.csv", "");
  dir.Write("shop/shop.targets", "");
  const struct {
    std::vector<std::string> Words;  // as bash splits the line, which breaks at ':' and '='
    std::vector<std::string> Offered;
  } cases[] = {
      {{"--only-ch"}, {"--only-changed"}},
      {{"--me"}, {"--metrics"}},
      {{"--kind", "u"}, {"users"}},
      {{"--kind", "=", "la"}, {"labels"}},
      {{"--kind", "="}, {"labels", "products", "statuses", "users"}},
      {{"--encoding", "CP12"}, {"CP1250", "CP1252"}},
      {{"--targets", "sh"}, {"shop.targets"}},
      {{"--pace", ""}, {}},
      {{"pr"}, {"prices.csv"}},
      {{"prices.csv", ""}, {"prices.csv", "serial:", "shop.targets", "tcp:", "udp:"}},
      {{"prices.csv", "deli", "=", "ud"}, {"udp:"}},
      {{"prices.csv", "tcp", ":"}, {}},
      {{"prices.csv", "serial", ":", "/dev/nul"}, {"/dev/null"}},
  };
  for (const auto& line : cases) {
    std::string words = "scaledb-send";
    for (const std::string& word : line.Words) words += " '" + word + "'";
    const std::string script = "compopt() { :; }; source '" + std::string(SCALEDB_COMPLETION_PATH) + "'; COMP_WORDS=(" + words +
                               "); COMP_CWORD=" + std::to_string(line.Words.size()) +
                               "; _scaledb_send; printf '%s\\n' \"${COMPREPLY[@]}\"";
    const TResult completion = Execute("/bin/bash", {"-c", script}, environment, dir.File("shop"));
    EXPECT_EQ(completion.ExitCode, 0) << words << "\n" << completion.Journal;
    std::vector<std::string> offered;
    for (const std::string& word : Lines(completion.Journal))
      if (!word.empty()) offered.push_back(word);
    std::sort(offered.begin(), offered.end());
    EXPECT_EQ(offered, line.Offered) << words;
  }
}
}  // namespace
