// Import of a million-row database against a plain read that only counts the separators.

#include "DatabaseTable.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {
constexpr int kRows = 1'000'000;
constexpr int kFields = 8;

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

long FileSize() {
  FILE* file = std::fopen(DatabasePath().c_str(), "rb");
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fclose(file);
  return size;
}

void BM_ReadAndCountSeparators(benchmark::State& state) {
  std::string buffer(1 << 16, '\0');
  for (auto _ : state) {
    const int fd = ::open(DatabasePath().c_str(), O_RDONLY);
    long separators = 0;
    for (ssize_t got; (got = ::read(fd, buffer.data(), buffer.size())) > 0;)
      for (ssize_t i = 0; i < got; ++i) separators += buffer[static_cast<size_t>(i)] == ';';
    ::close(fd);
    benchmark::DoNotOptimize(separators);
  }
  state.SetBytesProcessed(state.iterations() * FileSize());
}

void BM_ImportDatabase(benchmark::State& state) {
  size_t memory = 0;
  for (auto _ : state) {
    TDatabaseLoad load = LoadDatabaseFile(DatabasePath());
    memory = load.Table.MemoryBytes();
    benchmark::DoNotOptimize(load.Table.RowCount());
  }
  state.SetBytesProcessed(state.iterations() * FileSize());
  state.counters["file_MB"] = static_cast<double>(FileSize()) / 1e6;
  state.counters["table_MB"] = static_cast<double>(memory) / 1e6;
  state.counters["memory_x_file"] = static_cast<double>(memory) / static_cast<double>(FileSize());
}
}  // namespace

BENCHMARK(BM_ReadAndCountSeparators)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportDatabase)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(DatabasePath().c_str());
  return 0;
}
