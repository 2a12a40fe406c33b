// remote-actions' command line, escapes and readable tree, without a bus.
#include <gtest/gtest.h>

#include "tools/remote_actions/cli.hpp"

namespace {

using remote_actions::Command;

TEST(RemoteActionsCli, ParsesCommands) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    Command::Kind kind;
    std::string resource, action;
    std::vector<std::pair<std::string, std::string>> arguments;
    bool wait;
  } cases[] = {
      {{"tree"}, true, Command::Kind::Tree, "", "", {}, false},
      {{"--help"}, true, Command::Kind::Help, "", "", {}, false},
      {{"invoke", "remote.connections", "new"}, true, Command::Kind::Invoke, "remote.connections", "new", {}, false},
      // --wait anywhere; '=' inside a value stays; escapes are read in values only.
      {{"invoke", "--wait", "r", "send-text", "text=a=b\\n"},
       true,
       Command::Kind::Invoke,
       "r",
       "send-text",
       {{"text", "a=b\n"}},
       true},
      {{"invoke", "r", "rename", "value="}, true, Command::Kind::Invoke, "r", "rename", {{"value", ""}}, false},
      {{}, false, {}, "", "", {}, false},
      {{"tree", "extra"}, false, {}, "", "", {}, false},
      {{"invoke", "r"}, false, {}, "", "", {}, false},
      {{"invoke", "r", "a", "novalue"}, false, {}, "", "", {}, false},
      {{"invoke", "r", "a", "=x"}, false, {}, "", "", {}, false},
      {{"launch"}, false, {}, "", "", {}, false},
  };
  for (const Case& c : cases) {
    auto parsed = remote_actions::parse_command(c.args);
    ASSERT_EQ(parsed.has_value(), c.ok) << ::testing::PrintToString(c.args);
    if (!c.ok) continue;
    EXPECT_EQ(parsed->kind, c.kind);
    EXPECT_EQ(parsed->resource, c.resource);
    EXPECT_EQ(parsed->action, c.action);
    EXPECT_EQ(parsed->arguments, c.arguments);
    EXPECT_EQ(parsed->wait, c.wait);
  }
}

TEST(RemoteActionsCli, Unescapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"echo hi\\n", "echo hi\n"},      {"a\\tb\\r", "a\tb\r"},   {"\\e[A", "\x1b[A"},
      {"back\\\\slash", "back\\slash"}, {"C:\\path", "C:\\path"}, {"trailing\\", "trailing\\"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(remote_actions::unescape(in), out) << in;
}

TEST(RemoteActionsCli, FormatsTheTreeOneActionALine) {
  const std::string json = R"({"resources":[{"id":"remote.connections","kind":"remote.connection-list",
    "title":"Remote connections","actions":[{"id":"new","label":"New connection","operation_kind":"view",
    "parameters":[],"destructive":false,"available":true}],"children":[{"id":"remote.connection:x",
    "kind":"remote.connection","title":"Box","actions":[{"id":"connect","label":"Connect",
    "operation_kind":"effect","parameters":[],"destructive":false,"available":false,
    "unavailable":{"code":"live_session_capability_required","message":"Not granted."}},
    {"id":"rename","label":"Rename connection","operation_kind":"none","parameters":[{"name":"value",
    "description":"New name","type":"text"}],"destructive":false,"available":true},
    {"id":"delete","label":"Delete connection","operation_kind":"none","parameters":[],"destructive":true,
    "available":true}],"children":[]}]}]})";
  auto text = remote_actions::format_tree(json);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text,
            "remote.connections  (remote.connection-list)  \"Remote connections\"\n"
            "  new  \"New connection\"  view  available\n"
            "  remote.connection:x  (remote.connection)  \"Box\"\n"
            "    connect  \"Connect\"  effect  unavailable live_session_capability_required: Not granted.\n"
            "    rename  \"Rename connection\"  document  value=<New name>  available\n"
            "    delete  \"Delete connection\"  document destructive  available\n");
}

TEST(RemoteActionsCli, RefusesATreeItCannotRead) {
  for (const char* bad : {"", "[]", "{\"resources\":3}", "{\"resources\":[", "not json"}) {
    EXPECT_FALSE(remote_actions::format_tree(bad).has_value()) << bad;
  }
  // Members of the wrong type are skipped, not fatal.
  auto odd = remote_actions::format_tree(R"({"resources":[7,{"id":1,"actions":[{"available":"yes"}],"children":{}}]})");
  EXPECT_TRUE(odd.has_value());
}

}  // namespace
