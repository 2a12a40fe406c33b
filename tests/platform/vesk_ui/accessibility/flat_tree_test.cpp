// Keys that stay with their nodes from frame to frame, and the difference
// between two frames' trees.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "platform/vesk_ui/accessibility/flat_tree.hpp"

namespace vesk_ui::accessibility {
namespace {

AccessNode node(Role role, std::string label, std::optional<std::string> id_text = std::nullopt) {
  AccessNode n;
  n.role = role;
  n.label = std::move(label);
  if (id_text) {
    n.id = access::node_id(*id_text);
    n.action_id = *id_text;
  }
  return n;
}

// Root, a group without id holding two buttons of the same action id, and a
// list of rows.
AccessNode sample(int rows) {
  AccessNode root = node(Role::Root, "Remote");
  AccessNode nav = node(Role::ButtonGroup, "Navigation");
  nav.children.push_back(node(Role::Button, "Add connection", "app.new"));
  root.children.push_back(std::move(nav));
  AccessNode screen = node(Role::Group, "Connections");
  screen.children.push_back(node(Role::Button, "New connection", "app.new"));  // same id again
  AccessNode list = node(Role::List, "Saved", "app.list");
  for (int i = 0; i < rows; ++i)
    list.children.push_back(node(Role::ListItem, "Row " + std::to_string(i), "row:" + std::to_string(i)));
  screen.children.push_back(std::move(list));
  screen.children.push_back(node(Role::Text, "No more"));
  root.children.push_back(std::move(screen));
  return root;
}

// The updated tree holds what a fresh flattening of `root` gives.
void expect_as_fresh(const FlatTree& tree, const AccessNode& root, const std::string& what) {
  const FlatTree fresh = flatten(root);
  ASSERT_EQ(tree.size(), fresh.size()) << what;
  EXPECT_EQ(tree.root_key, fresh.root_key) << what;
  for (const auto& [key, n] : fresh.nodes) {
    const FlatNode* m = tree.find(key);
    ASSERT_NE(m, nullptr) << what << " " << n.label.value_or("");
    EXPECT_TRUE(m->label == n.label && m->value == n.value && m->children == n.children && m->role == n.role &&
                m->parent == n.parent && m->index_in_parent == n.index_in_parent && m->selected == n.selected)
        << what << " " << n.label.value_or("");
    ASSERT_EQ(m->child_nodes.size(), m->children.size()) << what;
    for (std::size_t i = 0; i < m->children.size(); ++i) EXPECT_EQ(m->child_nodes[i], tree.find(m->children[i]));
  }
}

std::uint64_t key_of(const FlatTree& t, std::string_view label) {
  for (const auto& [key, n] : t.nodes) {
    if (n.label == label) return key;
  }
  return 0;
}

TEST(FlatTree, KeysAreIdsWhereUniqueAndStableWhereDerived) {
  const FlatTree a = flatten(sample(3));
  const FlatTree b = flatten(sample(3));
  // Every node has its own key, never 0.
  ASSERT_EQ(a.size(), 10u);
  EXPECT_FALSE(a.nodes.contains(0));
  // A node's own id when it is the first to carry it.
  EXPECT_EQ(key_of(a, "Add connection"), access::node_id("app.new"));
  EXPECT_EQ(key_of(a, "Row 1"), access::node_id("row:1"));
  // The repeated id and the nodes without one get keys of their own...
  EXPECT_NE(key_of(a, "New connection"), access::node_id("app.new"));
  EXPECT_NE(key_of(a, "New connection"), 0u);
  // ...that are the same in the next frame.
  for (const auto& [key, n] : a.nodes) EXPECT_EQ(key_of(b, *n.label), key) << *n.label;
  // More rows (nodes with ids) do not move the derived keys of their siblings.
  const FlatTree c = flatten(sample(7));
  EXPECT_EQ(key_of(c, "No more"), key_of(a, "No more"));
  EXPECT_EQ(key_of(c, "New connection"), key_of(a, "New connection"));
  // Parents, children and positions agree.
  const FlatNode* list = a.find(access::node_id("app.list"));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->children.size(), 3u);
  EXPECT_EQ(a.find(list->children[2])->index_in_parent, 2u);
  EXPECT_EQ(a.find(list->children[2])->parent, list->key);
  EXPECT_EQ(a.root()->parent, 0u);
}

TEST(FlatTree, InvalidTextIsReplacedNotPassedOn) {
  AccessNode root = node(Role::Root, "bad \xff\xfe label");
  root.value = std::string("\xc3");
  const FlatTree t = flatten(std::move(root));
  EXPECT_EQ(t.root()->label->find('\xff'), std::string::npos);
  EXPECT_NE(t.root()->label->find("bad "), std::string::npos);
  EXPECT_NE(*t.root()->value, "\xc3");
}

TEST(FlatTree, RunawayDepthIsCut) {
  AccessNode root = node(Role::Root, "deep");
  AccessNode* at = &root;
  for (int i = 0; i < kMaxFlatDepth + 50; ++i) {
    at->children.push_back(node(Role::Group, "g"));
    at = &at->children.back();
  }
  EXPECT_EQ(flatten(std::move(root)).size(), static_cast<std::size_t>(kMaxFlatDepth + 1));
}

TEST(FlatTreeDiff, ReportsOnlyWhatChanged) {
  const std::uint64_t row1 = access::node_id("row:1");
  const std::uint64_t list = access::node_id("app.list");
  struct Case {
    const char* what;
    std::function<void(AccessNode&)> edit;
    std::size_t added;
    std::size_t removed;
    std::vector<NodeChange> changed;
  };
  auto row = [](AccessNode& root, int i) -> AccessNode& {
    return root.children[1].children[1].children[static_cast<std::size_t>(i)];
  };
  const std::vector<Case> cases = {
      {"nothing", [](AccessNode&) {}, 0, 0, {}},
      {"a label", [&](AccessNode& r) { row(r, 1).label = "Renamed"; }, 0, 0, {{row1, kChangedName}}},
      {"a value", [&](AccessNode& r) { row(r, 1).value = "x"; }, 0, 0, {{row1, kChangedValue}}},
      {"a description", [&](AccessNode& r) { row(r, 1).description = "d"; }, 0, 0, {{row1, kChangedDescription}}},
      {"selection", [&](AccessNode& r) { row(r, 1).selected = true; }, 0, 0, {{row1, kChangedStates}}},
      {"bounds",
       [&](AccessNode& r) {
         row(r, 1).bounds = scene::Rect{0, 0, 5, 5};
       },
       0,
       0,
       {{row1, kChangedStates | kChangedBounds}}},
      {"a row added at the end",
       [&](AccessNode& r) { r.children[1].children[1].children.push_back(node(Role::ListItem, "New", "row:9")); },
       1,
       0,
       {{list, kChangedChildren}}},
      {"a row removed",
       [&](AccessNode& r) {
         auto& c = r.children[1].children[1].children;
         c.erase(c.begin());
       },
       0,
       1,
       {{list, kChangedChildren}, {row1, kChangedParent}, {access::node_id("row:2"), kChangedParent}}},
      {"a role changed", [&](AccessNode& r) { row(r, 1).role = Role::Button; }, 1, 1, {}},
  };
  for (const Case& c : cases) {
    FlatTree tree = flatten(sample(3));
    AccessNode after = sample(3);
    c.edit(after);
    const TreeDiff d = update(tree, std::move(after));
    EXPECT_EQ(d.added.size(), c.added) << c.what;
    EXPECT_EQ(d.removed.size(), c.removed) << c.what;
    ASSERT_EQ(d.changed.size(), c.changed.size()) << c.what;
    ASSERT_EQ(d.before.size(), d.changed.size()) << c.what;
    // In any order; each change with the previous version of its node.
    std::map<std::uint64_t, std::uint32_t> got, want;
    for (std::size_t i = 0; i < d.changed.size(); ++i) {
      got[d.changed[i].key] = d.changed[i].bits;
      EXPECT_EQ(d.before[i].key, d.changed[i].key) << c.what;
    }
    for (const NodeChange& n : c.changed) want[n.key] = n.bits;
    EXPECT_EQ(got, want) << c.what;
    EXPECT_EQ(d.empty(), c.added == 0 && c.removed == 0 && c.changed.empty()) << c.what;
    // The tree now is what a fresh flattening of the new frame gives.
    AccessNode again = sample(3);
    c.edit(again);
    expect_as_fresh(tree, again, c.what);
    // And a second identical frame changes nothing.
    AccessNode same = sample(3);
    c.edit(same);
    EXPECT_TRUE(update(tree, std::move(same)).empty()) << c.what;
  }
}

// A widget hands out the same shared list of rows frame after frame: the
// subtree is kept as it was, and still gives way when an earlier node of the
// frame takes one of its keys.
TEST(FlatTree, SharedChildrenAreKeptAndGiveWayToEarlierKeys) {
  access::NodeList rows;
  for (int i = 0; i < 3; ++i) {
    AccessNode row = node(Role::ListItem, "Row " + std::to_string(i), "row:" + std::to_string(i));
    row.children.push_back(node(Role::Button, "Edit " + std::to_string(i), "edit:" + std::to_string(i)));
    rows.push_back(std::move(row));
  }
  const auto frame = [&](std::string list_label, bool steal) {
    AccessNode root = node(Role::Root, "Remote");
    AccessNode nav = node(Role::ButtonGroup, "Navigation");
    // A button that carries a row's id, ahead of the rows in the walk.
    if (steal) nav.children.push_back(node(Role::Button, "Thief", "row:1"));
    root.children.push_back(std::move(nav));
    AccessNode list = node(Role::List, std::move(list_label), "app.list");
    list.children = rows;
    root.children.push_back(std::move(list));
    return root;
  };

  FlatTree tree = flatten(frame("Saved", false));
  expect_as_fresh(tree, frame("Saved", false), "first frame");

  const TreeDiff relabelled = update(tree, frame("Saved connections", false));
  ASSERT_EQ(relabelled.changed.size(), 1u);
  EXPECT_EQ(relabelled.changed[0].key, access::node_id("app.list"));
  EXPECT_EQ(relabelled.changed[0].bits, static_cast<std::uint32_t>(kChangedName));
  expect_as_fresh(tree, frame("Saved connections", false), "the list relabelled");

  const TreeDiff stolen = update(tree, frame("Saved connections", true));
  EXPECT_FALSE(stolen.empty());
  expect_as_fresh(tree, frame("Saved connections", true), "a row's key taken by an earlier node");
  EXPECT_EQ(tree.find(access::node_id("row:1"))->label, "Thief");

  (void)update(tree, frame("Saved connections", false));
  expect_as_fresh(tree, frame("Saved connections", false), "the key given back");
  EXPECT_TRUE(update(tree, frame("Saved connections", false)).empty());
}

}  // namespace
}  // namespace vesk_ui::accessibility
