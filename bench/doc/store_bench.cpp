// The connection store at 10,000 profiles: loading a saved document, and
// writing records that are already stored (which must record nothing).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "apps/remote/src/doc/store.hpp"
#include "platform/vesk_ui/document/persist.hpp"
#include "bench/support/connections.hpp"

namespace remote::doc {
namespace {

constexpr int kConnections = 10'000;

// A persisted document of kConnections profiles in a folder of its own.
struct Fixture {
  std::vector<SavedConnection> records = bench_support::make_connections(kConnections);
  std::filesystem::path dir;
  Fixture() {
    dir = std::filesystem::temp_directory_path() / ("remote-doc-bench-" + std::to_string(::getpid()));
    auto persisted = vesk_ui::persist::open_directory(dir);
    if (!persisted) fail(persisted.error().message);
    write_connections(persisted->document(), records);
    if (auto saved = persisted->save(); !saved) fail(saved.error().message);
  }
  ~Fixture() { std::filesystem::remove_all(dir); }
  [[noreturn]] static void fail(const std::string& message) {
    std::fprintf(stderr, "bench set-up failed: %s\n", message.c_str());
    std::exit(1);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

vesk_ui::persist::PersistedDocument open_saved() {
  auto persisted = vesk_ui::persist::open_directory(fixture().dir);
  if (!persisted) Fixture::fail(persisted.error().message);
  return std::move(*persisted);
}

// Opening alone: reading the file and rebuilding the document from its history.
void BM_Open(benchmark::State& state) {
  for (auto _ : state) {
    auto persisted = open_saved();
    benchmark::DoNotOptimize(persisted);
  }
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond);

// Open the persisted document and read every profile out of it.
void BM_OpenAndLoad(benchmark::State& state) {
  for (auto _ : state) {
    auto persisted = open_saved();
    auto loaded = load_connections(persisted.document());
    if (loaded.size() != static_cast<std::size_t>(kConnections)) state.SkipWithError("lost profiles");
    benchmark::DoNotOptimize(loaded);
  }
  state.counters["connections"] = kConnections;
}
BENCHMARK(BM_OpenAndLoad)->Unit(benchmark::kMillisecond);

// Reading the profiles of a document already in memory.
void BM_LoadConnections(benchmark::State& state) {
  auto persisted = open_saved();
  Document& doc = persisted.document();
  for (auto _ : state) {
    auto loaded = load_connections(doc);
    benchmark::DoNotOptimize(loaded);
  }
}
BENCHMARK(BM_LoadConnections)->Unit(benchmark::kMillisecond);

// One write_connection per record, as document actions do.
void BM_WriteUnchangedOneByOne(benchmark::State& state) {
  auto persisted = open_saved();
  Document& doc = persisted.document();
  auto records = load_connections(doc);
  const auto heads = doc.get_heads();
  for (auto _ : state) {
    for (const auto& r : records) write_connection(doc, r);
    if (doc.pending_ops() != 0 || doc.get_heads() != heads) state.SkipWithError("an unchanged write recorded a change");
  }
}
BENCHMARK(BM_WriteUnchangedOneByOne)->Unit(benchmark::kMillisecond);

// A single unchanged write into the full document: the cost of one document
// action that changes nothing, whatever the number of profiles.
void BM_WriteOneUnchanged(benchmark::State& state) {
  auto persisted = open_saved();
  Document& doc = persisted.document();
  auto records = load_connections(doc);
  const auto heads = doc.get_heads();
  std::size_t i = 0;
  for (auto _ : state) {
    write_connection(doc, records[i]);
    i = (i + 7919) % records.size();  // a different, cold entry each time
  }
  if (doc.pending_ops() != 0 || doc.get_heads() != heads) state.SkipWithError("an unchanged write recorded a change");
}
BENCHMARK(BM_WriteOneUnchanged)->Unit(benchmark::kMicrosecond);

// All records in one call (seeding or syncing a whole list).
void BM_WriteUnchangedBatch(benchmark::State& state) {
  auto persisted = open_saved();
  Document& doc = persisted.document();
  auto records = load_connections(doc);
  const auto heads = doc.get_heads();
  for (auto _ : state) {
    write_connections(doc, records);
    if (doc.pending_ops() != 0 || doc.get_heads() != heads) state.SkipWithError("an unchanged write recorded a change");
  }
}
BENCHMARK(BM_WriteUnchangedBatch)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace remote::doc

BENCHMARK_MAIN();
