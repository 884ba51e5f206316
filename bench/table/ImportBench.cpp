// Import of a million-row database against two plain reads that only count the separators: one
// into a reused 64 KiB buffer, and one into a freshly allocated buffer of the file's size, which
// is what any loader that keeps the file must do. The import is measured against the second.

#include "DatabaseTable.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kRows = 1'000'000;

const std::string& DatabasePath() {
  static const std::string path = [] {
    std::string name = "/tmp/scaledb-bench-XXXXXX.csv";
    const int fd = mkstemps(name.data(), 4);
    std::string line;
    std::string chunk;
    for (int row = 0; row < kRows; ++row) {
      line = std::to_string(100000 + row) + ";Product " + std::to_string(row) + ";12.34;kg;5901234123457;A;" +
             std::to_string(row % 97) + ";x\r\n";
      chunk += line;
      if (chunk.size() > (1 << 20)) {
        if (::write(fd, chunk.data(), chunk.size()) < 0) std::abort();
        chunk.clear();
      }
    }
    if (::write(fd, chunk.data(), chunk.size()) < 0) std::abort();
    ::close(fd);
    return name;
  }();
  return path;
}

size_t FileSize() {
  struct stat info {};
  if (::stat(DatabasePath().c_str(), &info) != 0) std::abort();
  return static_cast<size_t>(info.st_size);
}

long CountSeparators(const char* bytes, size_t size) {
  long separators = 0;
  for (size_t i = 0; i < size; ++i) separators += bytes[i] == ';';
  return separators;
}

void BM_ReusedBufferRead(benchmark::State& state) {
  std::string buffer(1 << 16, '\0');
  for (auto _ : state) {
    const int fd = ::open(DatabasePath().c_str(), O_RDONLY);
    long separators = 0;
    for (ssize_t got; (got = ::read(fd, buffer.data(), buffer.size())) > 0;)
      separators += CountSeparators(buffer.data(), static_cast<size_t>(got));
    ::close(fd);
    benchmark::DoNotOptimize(separators);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize()));
}

void BM_FreshBufferRead(benchmark::State& state) {
  for (auto _ : state) {
    const int fd = ::open(DatabasePath().c_str(), O_RDONLY);
    struct stat info {};
    ::fstat(fd, &info);
    const auto size = static_cast<size_t>(info.st_size);
    auto buffer = std::make_unique_for_overwrite<char[]>(size);
    size_t filled = 0;
    for (ssize_t got; filled < size && (got = ::read(fd, buffer.get() + filled, size - filled)) > 0;)
      filled += static_cast<size_t>(got);
    ::close(fd);
    benchmark::DoNotOptimize(CountSeparators(buffer.get(), filled));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize()));
}

void BM_Import(benchmark::State& state) {
  size_t memory = 0;
  for (auto _ : state) {
    TDatabaseLoad load = LoadDatabaseFile(DatabasePath());
    memory = load.Table.MemoryBytes();
    benchmark::DoNotOptimize(load.Table.RowCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize()));
  state.counters["file_MB"] = static_cast<double>(FileSize()) / 1e6;
  state.counters["table_MB"] = static_cast<double>(memory) / 1e6;
  state.counters["table_x_file"] = static_cast<double>(memory) / static_cast<double>(FileSize());
}

// Prints as usual and keeps each benchmark's time per iteration for the summary.
class TSummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      Milliseconds[run.run_name.function_name] = run.GetAdjustedRealTime();
      if (run.counters.count("table_x_file")) TableToFile = run.counters.at("table_x_file");
    }
  }
  std::map<std::string, double> Milliseconds;
  double TableToFile = 0;
};
}  // namespace

BENCHMARK(BM_ReusedBufferRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreshBufferRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Import)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TSummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto& times = reporter.Milliseconds;
  if (times.count("BM_Import") && times.count("BM_FreshBufferRead") && times.count("BM_ReusedBufferRead")) {
    std::printf("\nimport %.1f ms, fresh-buffer read %.1f ms, reused-buffer read %.1f ms\n", times.at("BM_Import"),
                times.at("BM_FreshBufferRead"), times.at("BM_ReusedBufferRead"));
    std::printf("import / fresh-buffer read: %.2fx (target 1.5x); import / reused-buffer read: %.2fx\n",
                times.at("BM_Import") / times.at("BM_FreshBufferRead"),
                times.at("BM_Import") / times.at("BM_ReusedBufferRead"));
    std::printf("table memory / file size: %.2fx (target 1.5x)\n", reporter.TableToFile);
  }
  std::remove(DatabasePath().c_str());
  return 0;
}
