// The published tree as clients read it: valid JSON carrying every field,
// whatever the texts hold, and a fingerprint that moves with any of them.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "platform/vesk_actions/tree_json.hpp"

namespace vesk_actions {
namespace {

struct Op {
  std::string name;
  std::expected<std::string, std::string> serialize() const { return "\"" + name + "\""; }
};

std::vector<Resource> sample_tree() {
  Resource root("remote.connections", "remote.connection-list", "Remote connections");
  Resource child("remote.connection:1", "remote.connection", "Box");
  ActionSpec connect =
      *ActionSpec::typed_operation("connect", "Connect", OperationKind::Effect, "remote.operation", Op{"Connect"});
  ActionContract contract = ActionContract::defaults_for(OperationKind::Effect);
  contract.capabilities = {"network", "session"};
  connect.with_contract(contract).with_description("Open a live session.").unavailable("code_x", "Not now.");
  child.with_action(connect);
  child.with_action(
      ActionSpec::text_input("rename", "Rename connection", "New name", "connection name", false, [](std::string) {
        return EncodedAction::from_text("k", "{}");
      }).destructive());
  root.with_children({child});
  return {root};
}

TEST(TreeJson, CarriesEveryFieldAsValidJson) {
  const auto tree = nlohmann::json::parse(tree_json(sample_tree()));
  const auto& root = tree.at("resources").at(0);
  EXPECT_EQ(root.at("title"), "Remote connections");
  const auto& connect = root.at("children").at(0).at("actions").at(0);
  EXPECT_EQ(connect.at("operation_kind"), "effect");
  EXPECT_EQ(connect.at("operation_type"), "remote.operation");
  EXPECT_EQ(connect.at("description"), "Open a live session.");
  EXPECT_EQ(connect.at("contract").at("capabilities"), nlohmann::json({"network", "session"}));
  EXPECT_EQ(connect.at("contract").at("settings"), nlohmann::json({0, 2, 0, 1, 3}));
  EXPECT_EQ(connect.at("contract").at("lifetime"), nlohmann::json({{"value", 5}, {"flag", false}}));
  EXPECT_EQ(connect.at("available"), false);
  EXPECT_EQ(connect.at("unavailable"), nlohmann::json({{"code", "code_x"}, {"message", "Not now."}}));
  const auto& rename = root.at("children").at(0).at("actions").at(1);
  EXPECT_EQ(rename.at("operation_kind"), "none");
  EXPECT_TRUE(rename.at("operation_type").is_null());
  EXPECT_TRUE(rename.at("description").is_null());
  EXPECT_EQ(rename.at("destructive"), true);
  EXPECT_EQ(rename.at("input_hint"), "connection name");
  EXPECT_EQ(rename.at("parameters"),
            nlohmann::json::parse(R"([{"name":"value","description":"New name","type":"text"}])"));
}

TEST(TreeJson, TitlesFromDocumentsAreEscapedOrReplaced) {
  const std::pair<std::string, std::string> cases[] = {
      {"quote \" back \\ slash", "quote \" back \\ slash"},
      {"tab\tnew\nline\r bell\x07 nul" + std::string(1, '\0'), "tab\tnew\nline\r bell\x07 nul" + std::string(1, '\0')},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x96\xa5", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x96\xa5"},
      {"bad \xff byte", "bad \xef\xbf\xbd byte"},
      {"cut \xe2\x82", "cut \xef\xbf\xbd\xef\xbf\xbd"},
      {"surrogate \xed\xa0\x80", "surrogate \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"overlong \xc0\xaf", "overlong \xef\xbf\xbd\xef\xbf\xbd"},
  };
  for (const auto& [title, expected] : cases) {
    const std::string json = tree_json({Resource("r", "k", title)});
    const auto parsed = nlohmann::json::parse(json, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << json;
    EXPECT_EQ(parsed["resources"][0]["title"].get<std::string>(), expected);
  }
}

TEST(TreeJson, FingerprintMovesWithEveryFieldAndOnlyThen) {
  const std::uint64_t base = tree_fingerprint(sample_tree());
  EXPECT_EQ(tree_fingerprint(sample_tree()), base);
  auto connect = [](std::vector<Resource>& t) -> ActionSpec& { return t[0].children[0].actions[0]; };
  const std::pair<const char*, std::function<void(std::vector<Resource>&)>> changes[] = {
      {"title", [](auto& t) { t[0].children[0].title = "Box2"; }},
      {"label", [&](auto& t) { connect(t).label = "Go"; }},
      {"availability", [&](auto& t) { connect(t).contract.unavailable.reset(); }},
      {"reason", [&](auto& t) { connect(t).contract.unavailable->message = "Later."; }},
      {"setting", [&](auto& t) { connect(t).contract.settings[0] = 1; }},
      {"capability", [&](auto& t) { connect(t).contract.capabilities.pop_back(); }},
      {"description", [&](auto& t) { connect(t).description.reset(); }},
      {"destructive", [&](auto& t) { connect(t).is_destructive = true; }},
      {"parameter", [](auto& t) { t[0].children[0].actions[1].parameters[0].description = "Name"; }},
      {"child gone", [](auto& t) { t[0].children.clear(); }},
      {"fields trade bytes",
       [](auto& t) {
         t[0].id = "remote.connectionsr";
         t[0].kind = "emote.connection-list";
       }},
  };
  for (const auto& [what, change] : changes) {
    auto tree = sample_tree();
    change(tree);
    EXPECT_NE(tree_fingerprint(tree), base) << what;
  }
}

}  // namespace
}  // namespace vesk_actions
