// scaledb-send over each link against each way a scale misbehaves. Every cell ends "sent" with
// the table at the scale byte for byte, or "failed" with a reason in words: never "sent" for a
// table the scale did not acknowledge whole, never a hang, never a crash.

#include "DatabaseTable.h"
#include "NetTestSupport.h"
#include "ScaleSimProcess.h"
#include "TempDir.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
constexpr int kRows = 12;
constexpr const char* kAnswerTimeout = "0.5";
// A run far past this has hung: the slowest cell answers 14 commands 350 ms late each.
constexpr double kHangSeconds = 20;
constexpr int kKillAfterMs = 40000;

enum class TLinkKind { Serial, Tcp, Udp };

struct TLinkColumn {
  TLinkKind Kind;
  const char* Title;
};

const TLinkColumn kLinks[] = {{TLinkKind::Serial, "serial (pty)"}, {TLinkKind::Tcp, "TCP"}, {TLinkKind::Udp, "UDP"}};

struct TBehaviour {
  const char* Title;
  std::vector<std::string> Faults;
  bool ScaleStopsAnswering;  // the table cannot be acknowledged whole: "failed" is the only outcome
  bool NoResend;             // every answer is right, so the wire carries each command once
  int PaceMs = 2;            // longer where an answer must arrive while no command waits
  bool UdpOnly = false;      // a fault only a datagram can carry
  bool Unexpected = false;   // answers come that no command asked for, and are counted
};

const TBehaviour kBehaviours[] = {
    {"answers at once", {}, false, true},
    {"every 4th answer garbled", {"--garble-every", "4"}, false, false},
    {"answers in single bytes", {"--split"}, false, true},
    {"answers 350 ms late", {"--delay", "350"}, false, true},
    {"silent after record 5", {"--silent-after", "5"}, true, false},
    {"link closed after record 5", {"--close-after", "5"}, true, false},
    {"1 MB without LF, then answer", {"--flood-before", "5", "1048576"}, false, false},
    {"every 4th answer doubled", {"--double-every", "4"}, false, false},
    {"every 3rd answer repeated 20 ms later", {"--repeat-every", "3"}, false, true, 60, false, true},
    {"an extra answer before the command", {"--repeat-every", "4", "--repeat-gap", "5"}, false, true, 60, false, true},
    {"answers from 127.0.0.77 (spoofer)", {"--answer-from", "127.0.0.77"}, true, false, 2, true},
};

struct TCell {
  bool Run = true;  // false where the fault has no meaning for the link
  bool Finished = false;
  bool Crashed = false;
  int ExitCode = -1;
  double Seconds = 0;
  std::string Result;  // "sent" or "failed" from the report
  std::string Error;
  int Resends = 0;
  int RecordsSent = 0;
  int UnexpectedAnswers = 0;
  int IgnoredDatagrams = 0;
  std::string Err;     // the program's standard error
  std::string Log;     // the commands the scale received
  std::string Raw;     // the bytes the scale received
};

std::string ProductsFile() {
  std::string file;
  for (int i = 1; i <= kRows; ++i) file += std::to_string(i) + ";Ser \xBF\xF3\xB3ty " + std::to_string(i) + ";12.50\n";
  return file;
}

// The commands of a whole transfer, without their framing.
std::vector<std::string> Commands(const std::string& file) {
  const TDatabaseTable table = TDatabaseTable::Parse(file);
  std::vector<std::string> commands{"SbP"};
  for (int row = 0; row < table.RowCount(); ++row) commands.push_back("Sr" + table.RowText(row));
  commands.push_back("Se");
  return commands;
}

std::string Joined(const std::vector<std::string>& commands, const std::string& framing) {
  std::string text;
  for (const std::string& command : commands) text += command + framing;
  return text;
}

// The log with a command repeated back to back kept once: a resent record overwrites itself.
std::string Collapsed(const std::string& log) {
  std::string collapsed;
  std::string previous;
  bool first = true;
  for (size_t start = 0; start < log.size();) {
    const size_t end = log.find('\n', start);
    const std::string line = log.substr(start, end - start);
    if (first || line != previous) collapsed += line + "\n";
    previous = line;
    first = false;
    start = end == std::string::npos ? log.size() : end + 1;
  }
  return collapsed;
}

// Over the pty the serial port notices the scale's hang-up itself, well before the answer timeout.
const char kPtyHangUpReason[] = "The serial device went away (record 6 of 12).";

bool ClosesTheLink(const TBehaviour& behaviour) {
  return !behaviour.Faults.empty() && behaviour.Faults.front() == "--close-after";
}

std::vector<std::string> SimLinkArguments(TLinkKind kind, int udpReplyPort) {
  switch (kind) {
    case TLinkKind::Serial: return {"--pty"};
    case TLinkKind::Tcp: return {"--tcp", "0"};
    case TLinkKind::Udp: return {"--udp", "0", "--udp-reply-port", std::to_string(udpReplyPort)};
  }
  return {};
}

std::string Target(TLinkKind kind, const TScaleSimProcess& sim) {
  switch (kind) {
    case TLinkKind::Serial: return "serial:" + sim.PtyPath();
    case TLinkKind::Tcp: return "tcp:127.0.0.1:" + std::to_string(sim.TcpPort());
    case TLinkKind::Udp: return "udp:127.0.0.1:" + std::to_string(sim.UdpPort());
  }
  return {};
}

QStringList Words(const std::vector<std::string>& words) {
  QStringList list;
  for (const std::string& word : words) list << QString::fromStdString(word);
  return list;
}

void ReadReport(const std::string& json, TCell& cell) {
  const QJsonArray targets = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object()["targets"].toArray();
  if (targets.size() != 1) return;
  const QJsonObject target = targets[0].toObject();
  cell.Result = target["result"].toString().toStdString();
  cell.Error = target["error"].toString().toStdString();
  cell.Resends = target["resends"].toInt();
  cell.RecordsSent = target["records_sent"].toInt();
  cell.UnexpectedAnswers = target["unexpected_answers"].toInt();
  cell.IgnoredDatagrams = target["ignored_datagrams"].toInt();
}

TCell RunCell(const TTempDir& dir, TLinkKind kind, const TBehaviour& behaviour) {
  const int udpLocalPort = TUdpPeer().Port();
  std::vector<std::string> simArguments = SimLinkArguments(kind, udpLocalPort);
  simArguments.insert(simArguments.end(), behaviour.Faults.begin(), behaviour.Faults.end());
  simArguments.insert(simArguments.end(), {"--log", dir.File("log"), "--raw", dir.File("raw")});
  TScaleSimProcess sim(simArguments);

  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_STATE_HOME", QString::fromStdString(dir.File("state")));
  process.setProcessEnvironment(environment);
  QElapsedTimer clock;
  clock.start();
  process.start(SCALEDB_SEND_PATH, Words({"--pace", std::to_string(behaviour.PaceMs), "--answer-timeout", kAnswerTimeout, "--udp-local-port",
                                          std::to_string(udpLocalPort), "--json", dir.File("report.json"),
                                          dir.File("products.csv"), Target(kind, sim)}));
  TCell cell;
  cell.Finished = process.waitForFinished(kKillAfterMs);
  cell.Seconds = static_cast<double>(clock.elapsed()) / 1000;
  if (!cell.Finished) {
    process.kill();
    process.waitForFinished();
  }
  sim.Stop();
  cell.Crashed = process.exitStatus() == QProcess::CrashExit;
  cell.ExitCode = process.exitCode();
  cell.Err = process.readAllStandardError().toStdString();
  ReadReport(dir.Read("report.json"), cell);
  cell.Log = dir.Read("log");
  cell.Raw = dir.Read("raw");
  return cell;
}

std::string CellText(const TCell& cell) {
  char text[64];
  if (!cell.Run) return "-";
  if (!cell.Finished) std::snprintf(text, sizeof text, "HANG %.1f s", cell.Seconds);
  else if (cell.Crashed) std::snprintf(text, sizeof text, "CRASH %.1f s", cell.Seconds);
  else if (cell.Resends > 0) std::snprintf(text, sizeof text, "%s %.2f s (%d resent)", cell.Result.c_str(), cell.Seconds, cell.Resends);
  else std::snprintf(text, sizeof text, "%s %.2f s", cell.Result.c_str(), cell.Seconds);
  return text;
}

void CheckCell(const TCell& cell, const TBehaviour& behaviour, TLinkKind kind, const std::string& file) {
  if (!cell.Run) return;
  ASSERT_TRUE(cell.Finished) << "hung";
  ASSERT_FALSE(cell.Crashed) << cell.Err;
  EXPECT_LT(cell.Seconds, kHangSeconds);
  EXPECT_EQ(cell.ExitCode, cell.Result == "sent" ? 0 : 1) << cell.Err;
  ASSERT_TRUE(cell.Result == "sent" || cell.Result == "failed") << cell.Err;
  if (behaviour.ScaleStopsAnswering) {
    EXPECT_EQ(cell.Result, "failed") << "the scale did not acknowledge every record";
  }
  if (behaviour.UdpOnly) {
    EXPECT_GT(cell.IgnoredDatagrams, 0) << "the spoofer's datagrams are counted";
  }
  if (cell.Result == "failed") {
    EXPECT_NE(cell.Error.find(' '), std::string::npos) << "a reason in words: '" << cell.Error << "'";
    EXPECT_NE(cell.Err.find(": failed "), std::string::npos) << cell.Err;
    if (kind == TLinkKind::Serial && ClosesTheLink(behaviour)) {
      EXPECT_EQ(cell.Error, kPtyHangUpReason);
      EXPECT_NE(cell.Err.find(std::string(": ") + kPtyHangUpReason + "\n"), std::string::npos) << "the end line: " << cell.Err;
    }
    return;
  }
  EXPECT_EQ(cell.RecordsSent, kRows) << "sent means every record acknowledged once";
  if (behaviour.Unexpected) {
    EXPECT_GT(cell.UnexpectedAnswers, 0);
  }
  const bool udp = kind == TLinkKind::Udp;
  const std::string opening = udp ? std::string(1, '\0') : std::string();
  const std::vector<std::string> commands = Commands(file);
  EXPECT_EQ(Collapsed(cell.Log), (udp ? "\n" : "") + Joined(commands, "\n"));
  if (behaviour.NoResend) {
    EXPECT_EQ(cell.Raw, opening + Joined(commands, udp ? std::string(1, '\0') : "\r\n"));
  }
}

void PrintMatrix(const std::vector<std::vector<TCell>>& cells) {
  std::printf("\nFault matrix: %d records, --pace 2 (60 where answers repeat), --answer-timeout %s\n", kRows,
              kAnswerTimeout);
  std::printf("%-38s", "scale behaviour");
  for (const TLinkColumn& link : kLinks) std::printf(" | %-24s", link.Title);
  std::printf("\n");
  for (size_t row = 0; row < cells.size(); ++row) {
    std::printf("%-38s", kBehaviours[row].Title);
    for (const TCell& cell : cells[row]) std::printf(" | %-24s", CellText(cell).c_str());
    std::printf("\n");
  }
  std::printf("Reasons:\n");
  for (size_t row = 0; row < cells.size(); ++row)
    for (size_t column = 0; column < cells[row].size(); ++column)
      if (!cells[row][column].Error.empty())
        std::printf("  %s, %s: %s\n", kBehaviours[row].Title, kLinks[column].Title, cells[row][column].Error.c_str());
  std::fflush(stdout);
}
}  // namespace

TEST(FaultMatrix, EveryLinkAgainstEveryMisbehavingScaleEndsSentWholeOrFailedInWords) {
  const std::string file = ProductsFile();
  std::vector<std::vector<TCell>> cells;
  for (const TBehaviour& behaviour : kBehaviours) {
    cells.emplace_back();
    for (const TLinkColumn& link : kLinks) {
      TTempDir dir;
      dir.Write("products.csv", file);
      if (behaviour.UdpOnly && link.Kind != TLinkKind::Udp) {
        TCell skipped;
        skipped.Run = false;
        cells.back().push_back(skipped);
        continue;
      }
      cells.back().push_back(RunCell(dir, link.Kind, behaviour));
      SCOPED_TRACE(std::string(behaviour.Title) + " over " + link.Title);
      CheckCell(cells.back().back(), behaviour, link.Kind, file);
    }
  }
  PrintMatrix(cells);
}
