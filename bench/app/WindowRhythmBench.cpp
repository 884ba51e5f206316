// The window beside scaledb-send, both at once, 80 rows each over TCP to its own simulator at
// the scale's 100 ms pace: the gap from each acknowledgement to the next command as the scale
// sees it (scale-sim --timing), so whatever the window does between a command and the next (its
// painting, the timer's own precision) shows up here.

#include "Global.h"
#include "MessageBox.h"
#include "ScaleSimProcess.h"
#include "okno.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace {
constexpr int kRows = 80;
constexpr int kPatienceMs = 60000;

struct TGaps {
  double MeanMs = 0;
  double MedianMs = 0;
  double MaxMs = 0;
  int Count = 0;
};

// The second column of scale-sim's timing lines: the gap before each command but the first.
TGaps ReadGaps(const std::string& timingFile) {
  std::ifstream in(timingFile);
  std::vector<double> ms;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string arrival, gap;
    words >> arrival >> gap;
    if (!gap.empty() && gap != "-") ms.push_back(std::stod(gap));
  }
  TGaps gaps;
  if (ms.empty()) return gaps;
  std::sort(ms.begin(), ms.end());
  gaps.Count = static_cast<int>(ms.size());
  gaps.MeanMs = std::accumulate(ms.begin(), ms.end(), 0.0) / gaps.Count;
  gaps.MedianMs = ms[ms.size() / 2];
  gaps.MaxMs = ms.back();
  return gaps;
}

// Before the transfer: the event loop runs, looking every 10 ms.
bool RunEventsUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QElapsedTimer clock;
  clock.start();
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done() || clock.hasExpired(kPatienceMs)) loop.quit();
  });
  check.start(10);
  loop.exec();
  return done();
}

// "File -> Open", "Connect" and "Send database" in the shown window; during the transfer the event
// loop runs undisturbed, as in the program, until the result box.
bool SendFromWindow(const std::string& file, int port) {
  TForm1 form;
  form.show();
  ConnectionSettings = TConnectionSettings{1, "127.0.0.1", 0, port};
  form.OpenDialog1 = [&file] { return QString::fromStdString(file); };
  form.Otwrz1Click();
  form.btnOpenPortClick();
  if (!RunEventsUntil([&] { return form.PortState == lsConnected; })) return false;
  QEventLoop loop;
  QString title;
  MessageBoxHook = [&](const QString&, const QString& boxTitle, TMessageIcon) {
    title = boxTitle;
    loop.quit();
  };
  QTimer::singleShot(kPatienceMs, &loop, &QEventLoop::quit);
  form.bbWyslijBazeClick();
  loop.exec();
  MessageBoxHook = nullptr;
  form.btnOpenPortClick();
  return title == QStringLiteral("Success");
}

void StartProgram(QProcess& process, const std::string& file, int port, const std::string& stateDir) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_STATE_HOME", QString::fromStdString(stateDir));
  process.setProcessEnvironment(environment);
  process.setStandardErrorFile(QProcess::nullDevice());
  process.start(SCALEDB_SEND_PATH, {QString::fromStdString(file), QString("tcp:127.0.0.1:%1").arg(port)});
}

// The window's event loop may have seen the program end already.
bool ProgramSent(QProcess& process) {
  if (process.state() != QProcess::NotRunning && !process.waitForFinished(kPatienceMs)) return false;
  return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void PrintRow(const std::string& sender, const TGaps& gaps) {
  std::printf("| %-24s | TCP  | %6.2f ms | %6.2f ms | %6.2f ms | %4d |\n", sender.c_str(), gaps.MeanMs, gaps.MedianMs,
              gaps.MaxMs, gaps.Count);
}

void BM_WindowKeepsTheScalesRhythm(benchmark::State& state) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "scaledb-bench-window-rhythm";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  SetExecutableDirectory(dir.string() + "/");
  setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
  const std::string file = (dir / "products.csv").string();
  {
    std::ofstream out(file);
    for (int i = 1; i <= kRows; ++i) out << i << ";Product " << i << ";12.34;kg\r\n";
  }
  const std::string windowTiming = (dir / "window.timing").string();
  const std::string programTiming = (dir / "send.timing").string();

  for (auto _ : state) {
    TScaleSimProcess windowScale({"--tcp", "0", "--timing", windowTiming});
    TScaleSimProcess programScale({"--tcp", "0", "--timing", programTiming});
    // Side by side, so whatever else the machine does weighs on both alike.
    QProcess sender;
    StartProgram(sender, file, programScale.TcpPort(), (dir / "state").string());
    const bool windowSent = SendFromWindow(file, windowScale.TcpPort());
    const bool senderSent = ProgramSent(sender);
    if (!senderSent || !windowSent) {
      state.SkipWithError("a transfer failed");
      break;
    }
    windowScale.Stop();
    programScale.Stop();
    const TGaps window = ReadGaps(windowTiming);
    const TGaps program = ReadGaps(programTiming);
    state.counters["window_mean_ms"] = window.MeanMs;
    state.counters["window_max_ms"] = window.MaxMs;
    state.counters["send_mean_ms"] = program.MeanMs;
    state.counters["send_max_ms"] = program.MaxMs;
    const std::string windowName = "the window (" + QGuiApplication::platformName().toStdString() + ")";
    std::printf("%d rows at once from each, acknowledgement -> next command as the scale sees it:\n", kRows);
    std::printf("| %-24s | link | mean      | median    | max       | gaps |\n", "sender");
    PrintRow("scaledb-send", program);
    PrintRow(windowName, window);
    std::printf("window - scaledb-send: %+.2f ms mean (wanted: window <= 100.5 ms mean, within 0.3 ms)\n",
                window.MeanMs - program.MeanMs);
  }
  unsetenv("XDG_STATE_HOME");
  SetExecutableDirectory("");
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WindowKeepsTheScalesRhythm)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
}  // namespace
