// The list's kept results (readiness, counts line, filtered order, the
// accessibility rows) must follow every change of the connections, the search
// text and the environment readiness reads, and be recomputed only then.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include "apps/remote/src/app/layout_geometry.hpp"
#include "apps/remote/src/doc/list.hpp"
#include "apps/remote/src/doc/store.hpp"
#include "platform/vesk_ui/accessibility/publisher.hpp"
#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"
#include "tests/apps/remote/app/headless_util.hpp"

namespace {

using namespace apptest;
using vesk_ui::access::AccessNode;

std::size_t count_tag(const std::vector<HitRegion>& regions, UiMessage::Tag tag) {
  std::size_t n = 0;
  for (const auto& r : regions) n += r.message.tag == tag ? 1 : 0;
  return n;
}

// Paints a frame and checks the painted and published results against a
// fresh computation from the state.
void expect_fresh(vesk_ui::headless::HeadlessHost& host, const std::string& what) {
  host.paint();
  auto& app = host.widget_as<RemoteApp>();
  const auto& connections = app.state().connections;
  const ConnectionView fresh = filtered_connections(connections, app.state().search);
  const ListCache& cached = app.list_results();

  EXPECT_EQ(cached.counts_text(), list_counts_text(connections)) << what;
  EXPECT_EQ(cached.view(connections), fresh) << what;
  std::size_t ready_rows = 0;
  for (std::size_t i = 0; i < connections.size(); ++i) {
    EXPECT_EQ(cached.readiness(i), connections[i].readiness()) << what << ", row " << i;
  }
  for (const SavedConnection* c : fresh) ready_rows += c->readiness() == Readiness::Ready ? 1 : 0;
  // Every row fits in the window, so every ready row has its Connect button.
  EXPECT_EQ(count_tag(app.state().hit_regions, UiMessage::Tag::RequestConnect), ready_rows) << what;

  const AccessNode tree = app.accessibility_tree();
  const AccessNode* list = tree.find_by_id(vesk_ui::access::node_id("remote.list"));
  ASSERT_NE(list, nullptr) << what;
  ASSERT_EQ(list->children.size(), fresh.size()) << what;
  for (std::size_t i = 0; i < fresh.size(); ++i) {
    const AccessNode& row = list->children[i];
    EXPECT_EQ(row.action_id, "remote.connection:" + fresh[i]->id.to_string() + ":select") << what;
    EXPECT_TRUE(row.label->starts_with(fresh[i]->name + ", ")) << what << ": " << *row.label;
    EXPECT_EQ(row.value, fresh[i]->target_label()) << what;
    EXPECT_EQ(row.position_in_set, i + 1) << what;
    EXPECT_EQ(row.selected, app.state().selection == fresh[i]->id) << what;
    EXPECT_EQ(row.children.size(), fresh[i]->readiness() == Readiness::Ready ? 3u : 2u) << what;
    EXPECT_TRUE(row.bounds.has_value()) << what;
  }
}

TEST(AppListCache, FollowsConnectionsSearchAndEnvironment) {
  unsetenv("REMOTE_LIVE_SESSIONS");
  std::vector<SavedConnection> list = {conn("Build", ConnectionKind::Ssh, "build.example.com", 22),
                                       device_conn("Studio"),
                                       conn("Windows", ConnectionKind::Rdp, "w.example.com", 3389),
                                       conn("Nas", ConnectionKind::Vnc, "nas.example.com", 5900)};
  vesk_ui::headless::HeadlessOptions options;
  options.stub_text = true;
  vesk_ui::headless::HeadlessHost host(std::make_unique<RemoteApp>(list, std::vector<DiscoveredDevice>{}), options);
  auto& app = host.widget_as<RemoteApp>();
  auto& state = app.state_mut();
  expect_fresh(host, "first frame");

  struct Step {
    const char* what;
    std::function<void()> change;
  };
  const Step steps[] = {
      {"live sessions on", [] { setenv("REMOTE_LIVE_SESSIONS", "", 1); }},
      {"search", [&] { state.search = "  STU "; }},
      {"search matching nothing", [&] { state.search = "zzz"; }},
      {"search cleared", [&] { state.search.clear(); }},
      {"renamed", [&] { state.connections[0].name = "Zulu"; }},
      {"selected", [&] { state.selection = state.connections[2].id; }},
      {"selection cleared", [&] { state.selection.reset(); }},
      {"favourite", [&] { state.connections[3].favorite = true; }},
      {"online", [&] { state.connections[2].presence = Presence::Online; }},
      {"device host broken", [&] { state.connections[1].host = "not an endpoint id"; }},
      {"device host mended", [&] { state.connections[1].host = sample_endpoint_id(1); }},
      {"added", [&] { state.connections.push_back(conn("Added", ConnectionKind::Ssh, "a.example.com", 22)); }},
      {"removed", [&] { state.connections.erase(state.connections.begin()); }},
      {"live sessions off", [] { unsetenv("REMOTE_LIVE_SESSIONS"); }},
  };
  for (const Step& step : steps) {
    step.change();
    expect_fresh(host, step.what);
  }
  unsetenv("REMOTE_LIVE_SESSIONS");
}

TEST(AppListCache, RecomputesOnlyWhatAChangeAffects) {
  unsetenv("REMOTE_LIVE_SESSIONS");
  std::vector<SavedConnection> list = {conn("a", ConnectionKind::Ssh, "a.example.com", 22), device_conn("b")};
  vesk_ui::headless::HeadlessOptions options;
  options.stub_text = true;
  vesk_ui::headless::HeadlessHost host(std::make_unique<RemoteApp>(list, std::vector<DiscoveredDevice>{}), options);
  auto& app = host.widget_as<RemoteApp>();
  host.paint();
  const auto counts = [&] {
    return std::pair{app.list_results().readiness_computations(), app.list_results().order_computations()};
  };
  const auto start = counts();

  host.paint();
  (void)app.accessibility_tree();
  EXPECT_EQ(counts(), start) << "frames and trees without a change";

  app.state_mut().search = "a";
  host.paint();
  EXPECT_EQ(counts(), std::pair(start.first, start.second + 1)) << "a search recomputes the order only";

  setenv("REMOTE_LIVE_SESSIONS", "1", 1);
  host.paint();
  EXPECT_EQ(counts(), std::pair(start.first + 1, start.second + 2)) << "the environment recomputes both";
  unsetenv("REMOTE_LIVE_SESSIONS");
}

// Sixty connections "m10" to "m69", painted once: the last rows are out of view.
std::unique_ptr<vesk_ui::headless::HeadlessHost> sixty_rows_host() {
  std::vector<SavedConnection> list;
  for (int i = 10; i < 70; ++i) list.push_back(conn("m" + std::to_string(i), ConnectionKind::Ssh, "h.example.com", 22));
  return host_for(std::make_unique<RemoteApp>(list, std::vector<DiscoveredDevice>{}));
}

// An unchanged list is handed out as the very same shared rows, so that the
// publisher can skip it; a change of one record makes only that row anew
// (rows painted in the frame get their bounds, so theirs are always new).
TEST(AppListCache, UnchangedRowsAreTheSameSharedList) {
  auto owned = sixty_rows_host();
  auto& host = *owned;
  auto& app = host.widget_as<RemoteApp>();
  const auto rows = [&] {
    return app.accessibility_tree().find_by_id(vesk_ui::access::node_id("remote.list"))->children;
  };
  const vesk_ui::access::NodeList first = rows();
  ASSERT_EQ(first.size(), 60u);
  ASSERT_FALSE(first[50].bounds) << "the last rows are not painted";
  host.paint();
  EXPECT_TRUE(rows().same_list(first)) << "a frame without a change";

  app.state_mut().connections[50].name = "m60 renamed";  // stays in place in the order
  host.paint();
  const vesk_ui::access::NodeList renamed = rows();
  EXPECT_FALSE(renamed.same_list(first));
  EXPECT_TRUE(renamed[50].label->starts_with("m60 renamed, "));
  for (std::size_t i = 0; i < renamed.size(); ++i) {
    if (renamed[i].bounds) continue;
    EXPECT_EQ(renamed[i].children.same_list(first[i].children), i != 50) << "row " << i;
  }

  app.state_mut().selection = app.state().connections[1].id;
  EXPECT_FALSE(rows().same_list(renamed)) << "the selection is shown on the rows";
}

// What assistive technology sees follows a rename in the document, for rows
// on screen and off it.
TEST(AppListCache, PublishedRowsFollowRenamesInTheDocument) {
  auto owned = sixty_rows_host();
  auto& host = *owned;
  auto& app = host.widget_as<RemoteApp>();
  vesk_ui::accessibility::Publisher publisher("test");
  publisher.publish(app.accessibility_tree());
  for (std::size_t row : {1u, 50u}) {
    const Uuid id = app.state().connections[row].id;
    const std::string name = "renamed " + std::to_string(row);
    remote::doc::rename_connection(host.document(), id, name);
    host.document().commit();
    host.paint();
    publisher.publish(app.accessibility_tree());
    const auto key = vesk_ui::access::node_id("remote.connection:" + id.to_string() + ":select");
    const auto* node = publisher.tree().find(key);
    ASSERT_NE(node, nullptr) << row;
    EXPECT_TRUE(node->label && node->label->starts_with(name + ", ")) << row << ": " << node->label.value_or("");
    ASSERT_NE(publisher.object(key), nullptr) << row;
    EXPECT_TRUE(std::string(atk_object_get_name(publisher.object(key))).starts_with(name + ", ")) << row;
  }
}

}  // namespace
