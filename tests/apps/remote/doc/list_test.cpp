#include "apps/remote/src/doc/list.hpp"

#include <gtest/gtest.h>

namespace remote::app {
namespace {

SavedConnection make(std::string name, ConnectionKind kind = ConnectionKind::Ssh, bool favorite = false) {
  SavedConnection c;
  c.id = Uuid::new_v4();
  c.name = std::move(name);
  c.kind = kind;
  c.favorite = favorite;
  c.host = "host.example";
  c.port = 22;
  return c;
}

std::vector<std::string> names(const ConnectionView& view) {
  std::vector<std::string> out;
  for (const auto* c : view) out.push_back(c->name);
  return out;
}

TEST(DocConnectionOrder, FavouritesThenLowerCasedNamesStable) {
  std::vector<SavedConnection> list;
  list.push_back(make("Beta"));
  list.push_back(make("Alpha"));
  list.push_back(make("Zulu", ConnectionKind::Ssh, true));
  list.push_back(make("alpha"));
  list.push_back(make("Ärger"));  // bytes of "ä" sort after every ASCII letter
  list.push_back(make("ab"));
  list.push_back(make("a"));
  list.push_back(make("apple", ConnectionKind::Vnc, true));
  const std::vector<std::string> expected = {"apple", "Zulu", "a", "ab", "Alpha", "alpha", "Beta", "Ärger"};
  EXPECT_EQ(names(filtered_connections(list, "")), expected);
  EXPECT_EQ(names(filtered_connections(list, " \u3000 ")), expected);
  // The list itself is never reordered.
  EXPECT_EQ(list[0].name, "Beta");
  EXPECT_TRUE(connection_order_is_less({true, "zulu"}, {false, "alpha"}));
  EXPECT_FALSE(connection_order_is_less({false, "alpha"}, {false, "alpha"}));
  EXPECT_FALSE(connection_order_is_less({false, "\xc3\xa4rger"}, {false, "beta"}));
}

TEST(DocConnectionSearch, FieldsAndKindWords) {
  std::vector<SavedConnection> list;
  SavedConnection web = make("Web server");
  web.host = "10.0.0.5";
  web.user = "Deploy";
  SavedConnection desk = make("Desk", ConnectionKind::Vnc);
  desk.group = "Ödland Office";
  SavedConnection tablet = make("Tablet", ConnectionKind::Vesk);
  tablet.host = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
  SavedConnection device_box = make("Device lab", ConnectionKind::Vesk);
  SavedConnection rdp = make("ΣΟΦΙΑ", ConnectionKind::Rdp);
  list = {web, desk, tablet, device_box, rdp};

  const std::pair<std::string_view, std::vector<std::string>> rows[] = {
      {"  SSH  ", {"Web server"}},  // the kind word, whatever the name
      {"vesk", {"Device lab", "Tablet"}},
      {"device", {"Device lab"}},  // not through the screen label "Vesk device"
      {"deploy", {"Web server"}},
      {"0.0.5", {"Web server"}},
      {"ödland", {"Desk"}},
      {"ÖDLAND", {"Desk"}},
      {"office", {"Desk"}},
      {"σοφια", {"ΣΟΦΙΑ"}},
      {"rdp", {"ΣΟΦΙΑ"}},
      {"f707511a", {"Tablet"}},
      {"web  server", {}},  // contiguous only
      {"odland", {}},       // no accent folding
      {"", {"Desk", "Device lab", "Tablet", "Web server", "ΣΟΦΙΑ"}},
  };
  for (const auto& [query, expected] : rows) {
    EXPECT_EQ(names(filtered_connections(list, query)), expected) << '"' << query << '"';
  }
  EXPECT_EQ(prepare_query("  ÄB\u00a0"), "äb");
  EXPECT_TRUE(connection_matches_query(web, ""));
}

TEST(DocTargetLabel, PerKind) {
  struct Row {
    ConnectionKind kind;
    std::string host, user;
    std::uint16_t port;
    std::string label;
  };
  const std::string id52 = "25NJQAMCWEFLPVKL73J4SZAHHIHOC4XT3KTCGJNPAINGR5YHKENA";
  const Row rows[] = {
      {ConnectionKind::Ssh, "box", "root", 22, "root@box:22"},
      {ConnectionKind::Ssh, "box", "root", 0, "root@box"},
      {ConnectionKind::Ssh, "box", "", 2222, "box:2222"},
      {ConnectionKind::Vnc, "desk", "stored", 5900, "desk:5900"},
      {ConnectionKind::Rdp, "win", "admin", 3389, "win:3389"},
      {ConnectionKind::Rdp, "win", "admin", 0, "win"},
      {ConnectionKind::Vesk, id52, "u", 7, "Vesk device 25NJQAMCWEFL\u2026"},
      {ConnectionKind::Vesk, "123456789012", "", 0, "Vesk device 123456789012"},
      {ConnectionKind::Vesk, "1234567890123", "", 0, "Vesk device 123456789012\u2026"},
      {ConnectionKind::Vesk, "ééééééééééééé", "", 0, "Vesk device éééééééééééé\u2026"},  // characters, not bytes
      {ConnectionKind::Vesk, "éééééééééééé", "", 0, "Vesk device éééééééééééé"},
  };
  for (const auto& r : rows) {
    SavedConnection c;
    c.kind = r.kind;
    c.host = r.host;
    c.user = r.user;
    c.port = r.port;
    EXPECT_EQ(c.target_label(), r.label);
  }
}

TEST(DocConnectionList, OperationsWithRepeatedIds) {
  std::vector<SavedConnection> list = {make("one"), make("two"), make("three")};
  SavedConnection dup = list[0];
  dup.name = "one again";
  list.push_back(dup);
  const Uuid first = list[0].id;

  EXPECT_EQ(find_connection(list, first)->name, "one");
  EXPECT_EQ(find_connection(list, Uuid::new_v4()), nullptr);

  // Flips only the first match.
  EXPECT_TRUE(toggle_favorite(list, first));
  EXPECT_TRUE(list[0].favorite);
  EXPECT_FALSE(list[3].favorite);
  EXPECT_FALSE(toggle_favorite(list, first));
  EXPECT_FALSE(toggle_favorite(list, Uuid::new_v4()));

  // Replaces in place.
  SavedConnection changed = list[1];
  changed.name = "TWO";
  EXPECT_EQ(upsert_connection(list, changed), changed.id);
  EXPECT_EQ(list.size(), 4u);
  EXPECT_EQ(list[1].name, "TWO");
  SavedConnection added = make("four");
  upsert_connection(list, added);
  EXPECT_EQ(list.back(), added);

  // Removes every match.
  EXPECT_TRUE(remove_connection(list, first));
  EXPECT_EQ(list.size(), 3u);
  EXPECT_EQ(find_connection(list, first), nullptr);
  const auto before = list;
  EXPECT_FALSE(remove_connection(list, Uuid::new_v4()));
  EXPECT_EQ(list, before);
}

TEST(DocConnectionList, CountViewIdsCopiesAndTake) {
  std::vector<SavedConnection> list = {make("b"), make("a"), make("c", ConnectionKind::Vnc)};
  list[0].presence = Presence::Online;
  list[2].presence = Presence::Online;
  list[1].presence = Presence::Offline;
  EXPECT_EQ(count_online(list), 2u);

  const ConnectionView view = filtered_connections(list, "");
  EXPECT_EQ(collect_connection_ids(view), (std::vector<Uuid>{list[1].id, list[0].id, list[2].id}));
  EXPECT_EQ(clone_connections(view), (std::vector<SavedConnection>{list[1], list[0], list[2]}));

  SavedConnection dup = list[0];
  dup.name = "second";
  list.push_back(dup);
  const Uuid id = list[0].id;
  EXPECT_EQ(take_connection_by_id(std::move(list), id)->name, "b");
  EXPECT_EQ(take_connection_by_id({}, id), std::nullopt);
}

}  // namespace
}  // namespace remote::app
