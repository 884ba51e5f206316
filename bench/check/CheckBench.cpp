// The file check over a million rows of a UTF-8 price file, as it is and converted into CP1250.

#include "DatabaseTable.h"
#include "FileCheck.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {
constexpr int kRows = 1'000'000;

const TDatabaseTable& MillionRows() {
  static const TDatabaseTable table = [] {
    std::string file;
    for (int row = 1; row <= kRows; ++row)
      file += std::to_string(row) + ";Ser \xC5\xBC\xC3\xB3\xC5\x82ty " + std::to_string(row % 97) + ";12.99;kg;" +
              std::to_string(row * 7 % 1000) + ";5901234123457\n";
    return TDatabaseTable::Parse(file);
  }();
  return table;
}

void BM_CheckMillionRows(benchmark::State& state, std::string codePage) {
  const TDatabaseTable& table = MillionRows();
  for (auto _ : state) benchmark::DoNotOptimize(CheckFile(table, TEncodingSettings{codePage, false}));
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK_CAPTURE(BM_CheckMillionRows, unchanged, std::string())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CheckMillionRows, cp1250, std::string("CP1250"))->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
