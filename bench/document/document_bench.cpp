// Open, load and save of a persisted document shaped like the connection
// list: 10,000 entries, each a map with a text "name" and nine scalars.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/vesk_ui/document/persist.hpp"

namespace {

namespace fs = std::filesystem;
using namespace vesk_ui;
using doc::ObjId;
using doc::Scalar;

constexpr int kEntries = 10'000;

std::string entry_key(int i) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08x-0000-4000-8000-%012x", i * 2654435761u, i);
  return buf;
}

void fill(doc::Document& d) {
  auto conns = *d.put_object(ObjId::root(), "connections", doc::ObjType::Map);
  d.commit();
  for (int i = 0; i < kEntries; ++i) {
    auto e = *d.put_object(conns, entry_key(i), doc::ObjType::Map);
    auto name = *d.put_object(e, "name", doc::ObjType::Text);
    (void)doc::splice_text_diffed(d, name, "Server number " + std::to_string(i));
    (void)d.put(e, "host", Scalar::str("host" + std::to_string(i) + ".example.net"));
    (void)d.put(e, "port", Scalar::int_(22));
    (void)d.put(e, "user", Scalar::str("admin"));
    (void)d.put(e, "kind", Scalar::str("SSH"));
    (void)d.put(e, "auth", Scalar::str("Public key"));
    (void)d.put(e, "last_used", Scalar::str("Never"));
    (void)d.put(e, "presence", Scalar::str("unknown"));
    (void)d.put(e, "group", Scalar::str(i % 3 ? "Lab" : ""));
    (void)d.put(e, "favorite", Scalar::boolean(i % 7 == 0));
    d.commit();  // one change per saved connection, as the app records them
  }
}

struct Fixture {
  fs::path dir;
  std::vector<uint8_t> bytes;
  Fixture() {
    std::string tmpl = (fs::temp_directory_path() / "docl-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    dir = tmpl;
    auto p = persist::open_directory(dir);
    if (!p) std::abort();
    fill(p->document());
    if (!p->save()) std::abort();
    bytes = p->document().save();
  }
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_OpenAndLoad(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    auto p = persist::open_directory(f.dir);
    if (!p) state.SkipWithError(p.error().message.c_str());
    benchmark::DoNotOptimize(p->document().keys(ObjId::root()));
    state.PauseTiming();  // tearing the document down is not part of opening it
    p = std::unexpected(doc::Error{});
    state.ResumeTiming();
  }
  state.counters["file_bytes"] = static_cast<double>(f.bytes.size());
}
BENCHMARK(BM_OpenAndLoad)->Unit(benchmark::kMillisecond);

void BM_LoadFromMemory(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    auto d = doc::Document::load(f.bytes);
    if (!d) state.SkipWithError(d.error().message.c_str());
    benchmark::DoNotOptimize(d);
    state.PauseTiming();
    d = std::unexpected(doc::Error{});
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadFromMemory)->Unit(benchmark::kMillisecond);

void BM_SaveAfterOneEdit(benchmark::State& state) {
  Fixture& f = fixture();
  auto p = persist::open_directory(f.dir);
  if (!p) {
    state.SkipWithError(p.error().message.c_str());
    return;
  }
  auto conns = *(*p->document().get(ObjId::root(), "connections"))->object_id();
  auto entry = *(*p->document().get(conns, entry_key(5)))->object_id();
  int64_t n = 0;
  for (auto _ : state) {
    (void)p->document().put(entry, "port", Scalar::int_(++n));
    auto r = p->save();
    if (!r || !*r) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_SaveAfterOneEdit)->Unit(benchmark::kMillisecond);

void BM_SaveUnchanged(benchmark::State& state) {
  Fixture& f = fixture();
  auto p = persist::open_directory(f.dir);
  for (auto _ : state) benchmark::DoNotOptimize(p->save());
}
BENCHMARK(BM_SaveUnchanged)->Unit(benchmark::kMicrosecond);

// Review scenes and view operations make throwaway documents.
void BM_EmptyDocument(benchmark::State& state) {
  for (auto _ : state) {
    doc::Document d;
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_EmptyDocument)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
