// One scaledb-send serving 1,000 TCP scales at once against serving one, 50 rows each at the
// default 100 ms pace, in the same run, with the ledger and the locks: the wall-time ratio, the
// CPU time per acknowledged record and the resident memory each target adds.

#include "ScaleSimProcess.h"

#include <QElapsedTimer>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {
constexpr int kRows = 50;
constexpr int kScales = 1000;

struct TUsage {
  double CpuSeconds = 0;
  long MaxResidentKb = 0;
};

// Of the children that ended so far: scaledb-send's runs, not the simulator, which still runs.
TUsage ChildrenUsage() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return {static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
          usage.ru_maxrss};
}

struct TRun {
  double Seconds = 0;
  double CpuSeconds = 0;
  long MaxResidentKb = 0;
  bool Sent = false;
};

TRun Send(const std::string& dir, const std::string& targets) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("SCALEDB_STATE_DIR", QString::fromStdString(dir + "state"));
  environment.insert("SCALEDB_LOCK_DIR", QString::fromStdString(dir + "locks"));
  process.setProcessEnvironment(environment);
  process.setStandardErrorFile(QProcess::nullDevice());
  const TUsage before = ChildrenUsage();
  QElapsedTimer clock;
  clock.start();
  process.start(SCALEDB_SEND_PATH, {"--targets", QString::fromStdString(targets), QString::fromStdString(dir + "prices.csv")});
  process.waitForFinished(-1);
  const TUsage after = ChildrenUsage();
  return {static_cast<double>(clock.nsecsElapsed()) / 1e9, after.CpuSeconds - before.CpuSeconds, after.MaxResidentKb,
          process.exitCode() == 0};
}

void WriteTargets(const std::string& path, const TScaleSimProcess& scales, int count) {
  std::ofstream out(path);
  for (int i = 0; i < count; ++i) out << "scale" << i << "=tcp:127.0.0.1:" << scales.TcpPorts()[static_cast<size_t>(i)] << "\n";
}

void BM_SendToAThousandScalesAgainstOne(benchmark::State& state) {
  const std::string dir = (std::filesystem::temp_directory_path() / "scaledb-bench-fleet").string() + "/";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir + "locks");
  {
    std::ofstream out(dir + "prices.csv");
    for (int i = 1; i <= kRows; ++i) out << i << ";Product " << i << ";12.34;kg\n";
  }
  const TScaleSimProcess scales({"--tcp", "0", "--tcp-count", std::to_string(kScales)});
  WriteTargets(dir + "one.targets", scales, 1);
  WriteTargets(dir + "fleet.targets", scales, kScales);
  for (auto _ : state) {
    const TRun one = Send(dir, dir + "one.targets");
    const TRun fleet = Send(dir, dir + "fleet.targets");
    if (!one.Sent || !fleet.Sent) {
      state.SkipWithError("a transfer failed");
      break;
    }
    const double ratio = fleet.Seconds / one.Seconds;
    const double cpuMs = fleet.CpuSeconds * 1000 / ((kRows + 2) * kScales);
    const double kbPerTarget = static_cast<double>(fleet.MaxResidentKb - one.MaxResidentKb) / (kScales - 1);
    state.counters["ratio"] = ratio;
    state.counters["cpu_ms_per_record"] = cpuMs;
    state.counters["kb_per_target"] = kbPerTarget;
    std::printf("1 scale x %d rows: %.2f s; %d scales x %d rows: %.2f s; ratio %.3f (at most 1.1 wanted)\n", kRows,
                one.Seconds, kScales, kRows, fleet.Seconds, ratio);
    std::printf("CPU per acknowledged record %.4f ms (at most 0.05 wanted); resident memory %.1f KB per target "
                "(at most 64 wanted; %ld KB for one, %ld KB for %d)\n",
                cpuMs, kbPerTarget, one.MaxResidentKb, fleet.MaxResidentKb, kScales);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SendToAThousandScalesAgainstOne)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
}  // namespace
