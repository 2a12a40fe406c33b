// The cost per painted frame of publishing the accessibility tree with
// 10,000 saved connections: the application's own tree building for
// reference, then the publisher alone (flatten, difference by key, update
// and signal the ATK objects), with nothing changed and with one row changed,
// and the two together as a frame pays them; and a semantic action on a row,
// which must check that the row is in the tree as the state is now.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "apps/remote/src/app/remote_app.hpp"
#include "platform/vesk_ui/accessibility/publisher.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"
#include "bench/support/connections.hpp"

namespace {

using remote::app::RemoteApp;
using vesk_ui::accessibility::Publisher;

constexpr int kConnections = 10'000;

// The application with its first frame painted (rows get their bounds from
// it) and a publisher that has published that frame's tree.
struct Fixture {
  std::unique_ptr<vesk_ui::headless::HeadlessHost> host;
  Publisher publisher{"bench"};
  RemoteApp& app() { return host->widget_as<RemoteApp>(); }
  Fixture() {
    host = std::make_unique<vesk_ui::headless::HeadlessHost>(
        std::make_unique<RemoteApp>(bench_support::make_connections(kConnections),
                                    std::vector<remote::app::DiscoveredDevice>{}),
        vesk_ui::headless::HeadlessOptions{1280, 800, 1.0, true});
    host->paint();
    if (app().state().connections.size() != kConnections) {
      std::fprintf(stderr, "bench set-up: %zu connections\n", app().state().connections.size());
      std::exit(1);
    }
    publisher.publish(app().accessibility_tree());
    std::fprintf(stderr, "%zu nodes\n", publisher.tree().size());
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// Renames one row back and forth, as the document would.
void flip_row(RemoteApp& app, std::int64_t i) {
  app.state_mut().connections[5000].name = (i % 2) ? "Machine 5000" : "Machine 5000 (renamed)";
}

void BM_BuildTree(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) benchmark::DoNotOptimize(f.app().accessibility_tree());
}

// Freeing a built tree: part of every publication, since the tree comes by value.
void BM_FreeTree(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    state.PauseTiming();
    auto tree = std::make_unique<vesk_ui::access::AccessNode>(f.app().accessibility_tree());
    state.ResumeTiming();
    tree.reset();
  }
}

void BM_PublishNothingChanged(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    state.PauseTiming();
    auto tree = f.app().accessibility_tree();
    state.ResumeTiming();
    f.publisher.publish(std::move(tree));
  }
}

void BM_PublishOneRowChanged(benchmark::State& state) {
  Fixture& f = fixture();
  std::int64_t i = 0;
  for (auto _ : state) {
    state.PauseTiming();
    flip_row(f.app(), i++);
    auto tree = f.app().accessibility_tree();
    state.ResumeTiming();
    f.publisher.publish(std::move(tree));
  }
  flip_row(f.app(), 1);
  f.publisher.publish(f.app().accessibility_tree());
}

void BM_FrameNothingChanged(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) f.publisher.publish(f.app().accessibility_tree());
}

void BM_FrameOneRowChanged(benchmark::State& state) {
  Fixture& f = fixture();
  std::int64_t i = 0;
  for (auto _ : state) {
    flip_row(f.app(), i++);
    f.publisher.publish(f.app().accessibility_tree());
  }
  flip_row(f.app(), 1);
  f.publisher.publish(f.app().accessibility_tree());
}

// The action ids of rows 5000 and 5001 in the order.
std::array<std::string, 2> far_rows(RemoteApp& app) {
  const auto& order = app.list_results().order();
  const auto id = [&](std::size_t k) {
    return "remote.connection:" + app.state().connections[order[k]].id.to_string() + ":select";
  };
  return {id(5000), id(5001)};
}

// Selecting one far row then the other, as a screen reader moving through the list.
void BM_SemanticSelectRow(benchmark::State& state) {
  Fixture& f = fixture();
  const auto rows = far_rows(f.app());
  std::int64_t i = 0;
  for (auto _ : state) {
    if (!f.host->perform(rows[i++ % 2], {vesk_ui::access::ActionKind::Select, {}})) state.SkipWithError("refused");
  }
}

// The same right after one record changed, which is the costlier case.
void BM_SemanticSelectRowAfterRename(benchmark::State& state) {
  Fixture& f = fixture();
  const auto rows = far_rows(f.app());
  std::int64_t i = 0;
  for (auto _ : state) {
    state.PauseTiming();
    flip_row(f.app(), i);
    state.ResumeTiming();
    if (!f.host->perform(rows[i++ % 2], {vesk_ui::access::ActionKind::Select, {}})) state.SkipWithError("refused");
  }
  flip_row(f.app(), 1);
}

BENCHMARK(BM_BuildTree)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreeTree)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PublishNothingChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PublishOneRowChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameNothingChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameOneRowChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SemanticSelectRow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SemanticSelectRowAfterRename)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
