// scaledb-send serving 8 TCP scales at once against serving one, 200 rows each at the default
// 100 ms pace, in the same run: the wall-time ratio and the CPU time per acknowledged record.

#include "ScaleSimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {
constexpr int kRows = 200;
constexpr int kScales = 8;

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct TSendFigures {
  double Seconds = 0;
  double CpuSeconds = 0;
  int ExitCode = -1;
};

// Runs scaledb-send to every scale at once; the simulators keep running, so the children's CPU
// time that grows meanwhile is scaledb-send's own.
TSendFigures Send(const std::string& file, const std::vector<std::unique_ptr<TScaleSimProcess>>& scales, int count,
                  const std::string& stateDir) {
  QStringList words{QString::fromStdString(file)};
  for (int i = 0; i < count; ++i) words << QString("scale%1=tcp:127.0.0.1:%2").arg(i + 1).arg(scales[i]->TcpPort());
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_STATE_HOME", QString::fromStdString(stateDir));
  process.setProcessEnvironment(environment);
  process.setStandardErrorFile(QProcess::nullDevice());
  const double cpuBefore = ChildrenCpuSeconds();
  QElapsedTimer clock;
  clock.start();
  process.start(SCALEDB_SEND_PATH, words);
  process.waitForFinished(-1);
  return {static_cast<double>(clock.nsecsElapsed()) / 1e9, ChildrenCpuSeconds() - cpuBefore, process.exitCode()};
}

void BM_SendToEightScalesAgainstOne(benchmark::State& state) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "scaledb-bench-send";
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "products.csv").string();
  {
    std::ofstream out(file);
    for (int i = 1; i <= kRows; ++i) out << i << ";Product " << i << ";12.34;kg\r\n";
  }
  std::vector<std::unique_ptr<TScaleSimProcess>> scales;
  for (int i = 0; i < kScales; ++i) scales.push_back(std::make_unique<TScaleSimProcess>(std::vector<std::string>{"--tcp", "0"}));

  for (auto _ : state) {
    const TSendFigures one = Send(file, scales, 1, (dir / "state").string());
    const TSendFigures eight = Send(file, scales, kScales, (dir / "state").string());
    if (one.ExitCode != 0 || eight.ExitCode != 0) {
      state.SkipWithError("a transfer failed");
      break;
    }
    const double ratio = eight.Seconds / one.Seconds;
    const double cpuMsPerRecordOne = one.CpuSeconds * 1000 / kRows;
    const double cpuMsPerRecordEight = eight.CpuSeconds * 1000 / (kRows * kScales);
    state.counters["one_s"] = one.Seconds;
    state.counters["eight_s"] = eight.Seconds;
    state.counters["ratio"] = ratio;
    state.counters["cpu_ms_per_record_8"] = cpuMsPerRecordEight;
    std::printf("1 scale x %d rows: %.2f s, CPU %.3f ms per record\n", kRows, one.Seconds, cpuMsPerRecordOne);
    std::printf("%d scales x %d rows: %.2f s, CPU %.3f ms per record\n", kScales, kRows, eight.Seconds, cpuMsPerRecordEight);
    std::printf("ratio %.3f (at most 1.1 wanted); CPU per acknowledged record below 0.3 ms wanted\n", ratio);
  }
  scales.clear();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SendToEightScalesAgainstOne)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
}  // namespace
