// The connection list with many saved connections: the list screen's display
// list, the published action tree and the accessibility tree. The profiles
// cycle through the eight sample profiles (a quarter of them devices, each
// with its own endpoint id), named apart by a number.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/app/samples.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "platform/vesk_actions/resource.hpp"
#include "platform/vesk_actions/tree_json.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"

namespace {

using remote::EndpointId;
using remote::SavedConnection;
using remote::app::RemoteApp;

std::vector<SavedConnection> many_connections(std::size_t count) {
  const std::vector<SavedConnection> samples = remote::app::sample_connections();
  std::vector<SavedConnection> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    SavedConnection c = samples[i % samples.size()];
    c.id = remote::Uuid::new_v4();
    c.name += " " + std::to_string(i);
    c.favorite = i % 7 == 0;
    if (c.kind == remote::ConnectionKind::Vesk) {
      EndpointId::Seed seed{};
      for (std::size_t b = 0; b < 8; ++b) seed[b] = static_cast<std::uint8_t>((i + 1) >> (8 * b));
      c.host = EndpointId::from_seed(seed).to_string();
    }
    out.push_back(std::move(c));
  }
  return out;
}

// A host showing the list of `count` connections, painted once (which also
// writes the connections into the host's document).
std::unique_ptr<vesk_ui::headless::HeadlessHost> list_host(std::size_t count) {
  auto app = std::make_unique<RemoteApp>(many_connections(count), remote::app::sample_devices());
  auto host = std::make_unique<vesk_ui::headless::HeadlessHost>(std::move(app));
  host->paint();
  return host;
}

// Display list of the list screen at 1280 × 800, nothing changed between frames.
void BM_ListDisplayList(benchmark::State& state) {
  auto host = list_host(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const auto& scene = host->paint();
    benchmark::DoNotOptimize(&scene);
  }
}
BENCHMARK(BM_ListDisplayList)->Arg(8)->Arg(1'000)->Arg(10'000)->Unit(benchmark::kMicrosecond);

// Display list while the search text changes every frame (typing).
void BM_ListDisplayListSearchTyping(benchmark::State& state) {
  auto host = list_host(static_cast<std::size_t>(state.range(0)));
  auto& app = host->widget_as<RemoteApp>();
  const std::string queries[] = {"s", "st", "stu", "st"};
  std::size_t n = 0;
  for (auto _ : state) {
    app.state_mut().search = queries[n++ % 4];
    const auto& scene = host->paint();
    benchmark::DoNotOptimize(&scene);
  }
}
BENCHMARK(BM_ListDisplayListSearchTyping)->Arg(10'000)->Unit(benchmark::kMicrosecond);

// The published tree, nothing changed between requests (the tree includes
// its destruction by the caller).
void BM_ActionResources(benchmark::State& state) {
  auto host = list_host(static_cast<std::size_t>(state.range(0)));
  const auto& app = host->widget_as<RemoteApp>();
  (void)app.action_resources(host->document());
  for (auto _ : state) {
    auto tree = app.action_resources(host->document());
    benchmark::DoNotOptimize(tree.data());
  }
}
BENCHMARK(BM_ActionResources)->Arg(10'000)->Unit(benchmark::kMillisecond);

// The published tree when every request sees another document (two that
// differ in one favourite flag, asked for in turn).
void BM_ActionResourcesDocumentChanged(benchmark::State& state) {
  auto host = list_host(static_cast<std::size_t>(state.range(0)));
  const auto& app = host->widget_as<RemoteApp>();
  std::vector<SavedConnection> changed = app.state().connections;
  changed[changed.size() / 2].favorite = !changed[changed.size() / 2].favorite;
  vesk_ui::doc::Document other;
  remote::doc::write_connections(other, changed);
  other.commit();
  std::size_t n = 0;
  (void)app.action_resources(host->document());
  for (auto _ : state) {
    auto tree = app.action_resources(n++ % 2 == 0 ? host->document() : other);
    benchmark::DoNotOptimize(tree.data());
  }
}
BENCHMARK(BM_ActionResourcesDocumentChanged)->Arg(10'000)->Unit(benchmark::kMillisecond);

// The TreeChanged check of the action service over the saved document,
// nothing changed between checks.
void BM_TreeChangedCheck(benchmark::State& state) {
  auto host = list_host(static_cast<std::size_t>(state.range(0)));
  const auto& app = host->widget_as<RemoteApp>();
  (void)vesk_actions::tree_fingerprint(app.action_resources(host->document()));
  for (auto _ : state) {
    benchmark::DoNotOptimize(vesk_actions::tree_fingerprint(app.action_resources(host->document())));
  }
}
BENCHMARK(BM_TreeChangedCheck)->Arg(10'000)->Unit(benchmark::kMillisecond);

// The TreeChanged check after each rename in the document, as the window
// does it: the frame syncs the application with the document (not timed),
// then the check builds the tree and its fingerprint.
void BM_TreeChangedCheckAfterRename(benchmark::State& state) {
  auto host = list_host(static_cast<std::size_t>(state.range(0)));
  const auto& app = host->widget_as<RemoteApp>();
  const remote::Uuid id = app.state().connections[app.state().connections.size() / 2].id;
  (void)vesk_actions::tree_fingerprint(app.action_resources(host->document()));
  std::size_t n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    remote::doc::rename_connection(host->document(), id, "Renamed " + std::to_string(n++));
    host->document().commit();
    host->paint();
    state.ResumeTiming();
    benchmark::DoNotOptimize(vesk_actions::tree_fingerprint(app.action_resources(host->document())));
  }
}
BENCHMARK(BM_TreeChangedCheckAfterRename)->Arg(10'000)->Unit(benchmark::kMillisecond);

// The accessibility tree of the list screen, nothing changed between calls.
void BM_AccessibilityTree(benchmark::State& state) {
  auto host = list_host(static_cast<std::size_t>(state.range(0)));
  (void)host->accessibility_tree();
  for (auto _ : state) {
    auto tree = host->accessibility_tree();
    benchmark::DoNotOptimize(&tree);
  }
}
BENCHMARK(BM_AccessibilityTree)->Arg(10'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
