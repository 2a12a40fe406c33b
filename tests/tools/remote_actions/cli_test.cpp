// remote-actions' command line, escapes and readable tree, without a bus.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>

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

TEST(RemoteActionsCli, ParsesCancel) {
  const std::pair<std::vector<std::string>, std::optional<std::uint64_t>> cases[] = {
      {{"cancel", "42"}, 42},
      {{"cancel", "18446744073709551615"}, UINT64_MAX},
      {{"cancel", "18446744073709551616"}, std::nullopt},  // beyond 64 bits
      {{"cancel", "-1"}, std::nullopt},
      {{"cancel", "4x"}, std::nullopt},
      {{"cancel", ""}, std::nullopt},
      {{"cancel"}, std::nullopt},
      {{"cancel", "1", "2"}, std::nullopt},
  };
  for (const auto& [args, handle] : cases) {
    auto parsed = remote_actions::parse_command(args);
    ASSERT_EQ(parsed.has_value(), handle.has_value()) << ::testing::PrintToString(args);
    if (!handle) continue;
    EXPECT_EQ(parsed->kind, Command::Kind::Cancel);
    EXPECT_EQ(parsed->handle, *handle);
  }
}

// NAME@=FILE takes the file's bytes as they are: no escapes, line ends kept.
TEST(RemoteActionsCli, ReadsValuesFromFiles) {
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) / ("remote_actions_cli_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string big(3 << 20, 'n');
  {
    std::ofstream(dir / "name") << "two\\nlines\n";
    std::ofstream(dir / "big") << big;
  }
  auto parsed = remote_actions::parse_command(
      {"invoke", "r", "rename", "value@=" + (dir / "name").string(), "other@=" + (dir / "big").string()});
  ASSERT_TRUE(parsed.has_value()) << parsed.error();
  ASSERT_EQ(parsed->arguments.size(), 2u);
  EXPECT_EQ(parsed->arguments[0], (std::pair<std::string, std::string>{"value", "two\\nlines\n"}));
  EXPECT_EQ(parsed->arguments[1].first, "other");
  EXPECT_EQ(parsed->arguments[1].second.size(), big.size());

  auto missing = remote_actions::parse_command({"invoke", "r", "rename", "value@=" + (dir / "none").string()});
  ASSERT_FALSE(missing.has_value());
  EXPECT_NE(missing.error().find("cannot read"), std::string::npos) << missing.error();
  // "@=" alone names no argument.
  EXPECT_FALSE(remote_actions::parse_command({"invoke", "r", "rename", "@=x"}).has_value());
  std::filesystem::remove_all(dir);
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
