// The ledger's cost: recording one transfer, --status over a chain's years of transfers, and a
// round of --only-changed where every scale is current already.

#include "ContentDigest.h"
#include "DatabaseTable.h"
#include "Ledger.h"
#include "LedgerFill.h"

#include <QElapsedTimer>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {
constexpr int kScales = 1000;
constexpr int kTransfers = 1000000;
constexpr int kFirstPort = 30000;

std::string Folder(const char* name) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string() + "/";
}

// Runs scaledb-send and returns its wall time in seconds, or -1 when it did not exit 0.
double TimedSend(const QStringList& words) {
  QProcess process;
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  QElapsedTimer clock;
  clock.start();
  process.start(SCALEDB_SEND_PATH, words);
  process.waitForFinished(-1);
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 ? seconds : -1;
}

void BM_RecordOneTransfer(benchmark::State& state) {
  const std::string dir = Folder("scaledb-bench-ledger-record");
  TLedger ledger(dir);
  TTransferRecord record;
  record.Started = QDateTime::currentDateTime();
  record.Program = "scaledb-send";
  record.Link = "tcp:127.0.0.1:4001";
  record.Digest = std::string(64, 'a');
  record.Result = TTransferResult::Sent;
  // Its time per iteration is the wall time a transfer's start and end add (below 1 ms wanted).
  for (auto _ : state) ledger.End(ledger.Begin({"tcp:127.0.0.1:4001", "deli"}, record), record);
}
BENCHMARK(BM_RecordOneTransfer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StatusAndARoundWhereEveryScaleIsCurrent(benchmark::State& state) {
  const std::string dir = Folder("scaledb-bench-ledger-status");
  {
    std::ofstream out(dir + "prices.csv");
    for (int i = 1; i <= 50; ++i) out << i << ";Product " << i << ";12.34\n";
  }
  const std::string digest = ContentDigest(LoadDatabaseFile(dir + "prices.csv").Table, 0, nullptr);
  FillLedger(dir + "state/", kScales, kTransfers, digest, kFirstPort);
  {
    std::ofstream targets(dir + "shop.targets");
    for (int i = 0; i < kScales; ++i) targets << "scale" << i << "=tcp:127.0.0.1:" << kFirstPort + i << "\n";
  }
  const QString stateDir = QString::fromStdString(dir + "state");
  for (auto _ : state) {
    const double status = TimedSend({"--state-dir", stateDir, "--status"});
    const double current = TimedSend({"--state-dir", stateDir, "--only-changed", "--targets",
                                      QString::fromStdString(dir + "shop.targets"), QString::fromStdString(dir + "prices.csv")});
    if (status < 0 || current < 0) {
      state.SkipWithError("scaledb-send did not exit 0");
      break;
    }
    state.counters["status_s"] = status;
    state.counters["only_changed_s"] = current;
    std::printf("--status over %d scales and %d transfers: %.3f s (below 0.2 s wanted)\n", kScales, kTransfers, status);
    std::printf("--only-changed, all %d targets current, no link opened: %.3f s (below 1 s wanted)\n", kScales, current);
  }
}
BENCHMARK(BM_StatusAndARoundWhereEveryScaleIsCurrent)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
}  // namespace
