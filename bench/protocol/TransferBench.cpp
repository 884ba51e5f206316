// A 200-row transfer to the scale simulator over a pty: the gap between a completed
// acknowledgement and the next command, and the CPU time spent per row.

#include "DatabaseTable.h"
#include "Global.h"
#include "MessageBox.h"
#include "ScaleSimProcess.h"
#include "okno.h"

#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace {
constexpr int kRows = 200;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The main window with a stopwatch between each completed reply line and the command that follows.
class TTimedForm : public TForm1 {
 public:
  TTimedForm() {
    connect(&Transfer, &TTransfer::LineReceived, this, [this] { lineCompleted_ = Clock::now(); });
    connect(&Transfer, &TTransfer::CommandSent, this, [this] { StopWatch(); });
  }
  double MeanGapMs() const { return gaps_ ? gapSumMs_ / gaps_ : 0; }
  double MaxGapMs() const { return gapMaxMs_; }
  int Gaps() const { return gaps_; }

 private:
  void StopWatch() {
    if (!lineCompleted_) return;
    const double gapMs = std::chrono::duration<double, std::milli>(Clock::now() - *lineCompleted_).count();
    gapSumMs_ += gapMs;
    gapMaxMs_ = std::max(gapMaxMs_, gapMs);
    ++gaps_;
    lineCompleted_.reset();
  }

  std::optional<Clock::time_point> lineCompleted_;
  double gapSumMs_ = 0;
  double gapMaxMs_ = 0;
  int gaps_ = 0;
};

std::string DatabaseFile() {
  std::string file;
  for (int i = 1; i <= kRows; ++i) file += std::to_string(i) + ";Product " + std::to_string(i) + ";12.34;kg\r\n";
  return file;
}

void BM_TransferOverPty(benchmark::State& state) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "scaledb-bench-transfer";
  std::filesystem::create_directories(dir);
  SetExecutableDirectory(dir.string() + "/");
  setenv("SCALEDB_PORTS_DIR", (dir / "ports").c_str(), 1);
  ConnectionSettings.Kind = 0;
  ConnectionSettings.Host = "127.0.0.1";
  TScaleSimProcess sim({"--com", "1", "--ports-dir", (dir / "ports").string()});

  for (auto _ : state) {
    TTimedForm form;
    form.ComPort1.SetPort("COM1");
    form.btnOpenPortClick();
    if (form.PortState != lsConnected) {
      state.SkipWithError("COM1 did not open");
      break;
    }
    form.Database.SetTable(TDatabaseTable::Parse(DatabaseFile()));
    QEventLoop loop;
    MessageBoxHook = [&](const QString&, const QString&, TMessageIcon) { loop.quit(); };
    const double cpuBefore = CpuSeconds();
    form.bbWyslijBazeClick();
    loop.exec();
    const double cpuSeconds = CpuSeconds() - cpuBefore;
    form.btnOpenPortClick();
    MessageBoxHook = nullptr;

    state.counters["gap_mean_ms"] = form.MeanGapMs();
    state.counters["gap_max_ms"] = form.MaxGapMs();
    state.counters["cpu_ms_per_row"] = cpuSeconds * 1000 / kRows;
    std::printf("%d gaps: mean %.3f ms (target 100 + at most 1), max %.3f ms; CPU %.4f ms per row\n", form.Gaps(),
                form.MeanGapMs(), form.MaxGapMs(), cpuSeconds * 1000 / kRows);
  }
  sim.Stop();
  unsetenv("SCALEDB_PORTS_DIR");
  SetExecutableDirectory("");
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TransferOverPty)->Iterations(1)->Unit(benchmark::kMillisecond);
}  // namespace
