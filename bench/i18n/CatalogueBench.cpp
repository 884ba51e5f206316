// Lookups in a 10,000-entry catalogue, through the whole translation path and in the bare catalogue.

#include "MoBuilder.h"
#include "MoCatalogue.h"
#include "Translation.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>

#include <unistd.h>

namespace {
constexpr int kEntries = 10000;

std::string Key(int i) { return "Message number " + std::to_string(i) + " of the catalogue"; }

// locale/de/LC_MESSAGES/default.mo in a fresh directory, built once per process.
const std::string& LocaleDirectory() {
  static const std::string directory = [] {
    const auto base = std::filesystem::temp_directory_path() / ("scaledb-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(base / "locale/de/LC_MESSAGES");
    std::vector<TMoEntry> entries;
    for (int i = 0; i < kEntries; ++i) entries.push_back({Key(i), "Meldung Nummer " + std::to_string(i)});
    std::ofstream(base / "locale/de/LC_MESSAGES/default.mo", std::ios::binary) << TMoBuilder::Build(entries);
    return (base / "locale").string();
  }();
  return directory;
}

std::vector<std::string> ShuffledKeys() {
  std::vector<std::string> keys;
  for (int i = 0; i < kEntries; ++i) keys.push_back(Key(i));
  std::shuffle(keys.begin(), keys.end(), std::mt19937(42));
  return keys;
}

void ReportRate(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());
  state.counters["lookups/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_TranslateInDomain(benchmark::State& state) {
  TTranslationInstance translation(LocaleDirectory(), "de_DE");
  const std::vector<std::string> keys = ShuffledKeys();
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(translation.Translate(keys[next]));
    next = (next + 1) % keys.size();
  }
  ReportRate(state);
}
BENCHMARK(BM_TranslateInDomain);

void BM_CatalogueFind(benchmark::State& state) {
  const auto catalogue = TMoCatalogue::Open(LocaleDirectory() + "/de/LC_MESSAGES/default.mo");
  const std::vector<std::string> keys = ShuffledKeys();
  size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(catalogue->Find(keys[next]));
    next = (next + 1) % keys.size();
  }
  ReportRate(state);
}
BENCHMARK(BM_CatalogueFind);

void BM_TranslateMissingText(benchmark::State& state) {
  TTranslationInstance translation(LocaleDirectory(), "de_DE");
  const std::string text = "A text that no catalogue holds";
  for (auto _ : state) benchmark::DoNotOptimize(translation.Translate(text));
  ReportRate(state);
}
BENCHMARK(BM_TranslateMissingText);
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(std::filesystem::path(LocaleDirectory()).parent_path());
  return 0;
}
