#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "apps/remote/src/actions/remote_action.hpp"
#include "apps/remote/src/actions/remote_operation.hpp"
#include "apps/remote/src/actions/uuid_field.hpp"

namespace remote {
namespace {

const std::string kId = "67e55044-10b1-426f-9247-bb680e5fe0c8";
const Uuid kUuid = *Uuid::parse(kId);

// "... at line 1 column N" where N is the end of `marker` in `text` (the
// `occurrence`-th one): where the reader stands after reading it.
std::string at_end_of(const std::string& text, const std::string& marker, int occurrence = 1) {
  std::size_t pos = std::string::npos;
  for (int i = 0; i < occurrence; ++i) pos = text.find(marker, pos == std::string::npos ? 0 : pos + 1);
  return " at line 1 column " + std::to_string(pos + marker.size());
}

std::string action_result(const std::string& text) {
  auto a = RemoteAction::deserialize(text);
  if (!a) return a.error();
  auto again = a->serialize();
  return again ? "ok:" + *again : "unserializable";
}

std::string operation_result(const std::string& text) {
  auto o = RemoteOperation::deserialize(text);
  if (!o) return o.error();
  auto again = o->serialize();
  return again ? "ok:" + *again : "unserializable";
}

TEST(RemoteActionJson, WritesEveryVariantInDeclarationOrder) {
  struct Case {
    RemoteAction action;
    std::string json;
  };
  const Case cases[] = {
      {RemoteAction::UpsertConnection{kUuid, "Box \"1\" \\ \n\t\x01 \xc3\xa9/", "h.example", 65535, "root",
                                      ConnectionKind::Vnc, AuthKind::PublicKey, "lab"},
       R"({"UpsertConnection":{"id":")" + kId +
           R"(","name":"Box \"1\" \\ \n\t\u0001 )"
           "\xc3\xa9"
           R"(/","host":"h.example","port":65535,"user":"root","kind":"Vnc","auth":"PublicKey","group":"lab"}})"},
      {RemoteAction::UpsertConnection{kUuid, "", "", 0, "", ConnectionKind::Vesk, AuthKind::DeviceIdentity, ""},
       R"({"UpsertConnection":{"id":")" + kId +
           R"(","name":"","host":"","port":0,"user":"","kind":"Vesk","auth":"DeviceIdentity","group":""}})"},
      {RemoteAction::rename(kUuid, "New"), R"({"RenameConnection":{"id":")" + kId + R"(","name":"New"}})"},
      {RemoteAction::SetFavorite{kUuid, true}, R"({"SetFavorite":{"id":")" + kId + R"(","favorite":true}})"},
      {RemoteAction::SetFavorite{kUuid, false}, R"({"SetFavorite":{"id":")" + kId + R"(","favorite":false}})"},
      {RemoteAction::DeleteConnection{kUuid}, R"({"DeleteConnection":{"id":")" + kId + R"("}})"},
  };
  for (const auto& c : cases) {
    auto text = c.action.serialize();
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, c.json);
    auto back = RemoteAction::deserialize(*text);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(*back, c.action);
    EXPECT_EQ(c.action.to_json_value().dump(), c.json);
  }
}

// The names are spelled out here, not taken from the model, so a changed
// name in the one shared table shows up.
TEST(RemoteActionJson, EveryKindAndMethodThroughWriteThenRead) {
  const std::pair<ConnectionKind, std::string_view> kinds[] = {{ConnectionKind::Ssh, "Ssh"},
                                                               {ConnectionKind::Vnc, "Vnc"},
                                                               {ConnectionKind::Rdp, "Rdp"},
                                                               {ConnectionKind::Vesk, "Vesk"}};
  const std::pair<AuthKind, std::string_view> auths[] = {{AuthKind::Password, "Password"},
                                                         {AuthKind::PublicKey, "PublicKey"},
                                                         {AuthKind::DeviceIdentity, "DeviceIdentity"}};
  for (const auto& [kind, kind_name] : kinds) {
    for (const auto& [auth, auth_name] : auths) {
      SCOPED_TRACE(std::string(kind_name) + " " + std::string(auth_name));
      const RemoteAction action = RemoteAction::UpsertConnection{kUuid, "n", "h", 1, "u", kind, auth, "g"};
      auto text = action.serialize();
      ASSERT_TRUE(text);
      const std::string pair = R"("kind":")" + std::string(kind_name) + R"(","auth":")" + std::string(auth_name) + "\"";
      EXPECT_NE(text->find(pair), std::string::npos) << *text;
      EXPECT_EQ(action.to_json_value().dump(), *text);
      auto back = RemoteAction::deserialize(*text);
      ASSERT_TRUE(back) << back.error();
      EXPECT_EQ(*back, action);
    }
  }
  // Text that cannot be written still names the action for the framework.
  const RemoteAction unwritable = RemoteAction::rename(kUuid, "\xff");
  EXPECT_FALSE(unwritable.serialize());
  EXPECT_EQ(unwritable.to_json_value().dump(), R"({"RenameConnection":{}})");
}

TEST(RemoteActionJson, DebugForm) {
  EXPECT_EQ(RemoteAction(RemoteAction::SetFavorite{kUuid, true}).fmt(),
            "SetFavorite { id: " + kId + ", favorite: true }");
  EXPECT_EQ(RemoteAction(
                RemoteAction::UpsertConnection{kUuid, "a\"b", "h", 22, "", ConnectionKind::Ssh, AuthKind::Password, ""})
                .fmt(),
            "UpsertConnection { id: " + kId +
                ", name: \"a\\\"b\", host: \"h\", port: 22, user: \"\", kind: Ssh, auth: Password, group: \"\" }");
  EXPECT_EQ(RemoteAction(RemoteAction::DeleteConnection{kUuid}).fmt(), "DeleteConnection { id: " + kId + " }");
}

TEST(RemoteActionJson, AcceptedForms) {
  const std::string fav = R"({"SetFavorite":{"id":")" + kId + R"(","favorite":true}})";
  const std::string cases[] = {
      R"({"SetFavorite":{"favorite":true,"id":")" + kId + R"("}})",
      R"({"SetFavorite":[")" + kId + R"(",true]})",
      " \n\t{ \"SetFavorite\" : { \"id\" : \"" + kId + "\" , \"favorite\" : true } } \r\n",
      R"({"SetFavorite":{"extra":[{"a":[1,{"b":null}]},[],"s"],"id":")" + kId + R"(","favorite":true,"z":{}}})",
      R"({"SetFavorite":{"id":"67E55044-10B1-426F-9247-BB680E5FE0C8","favorite":true}})",
      R"({"SetFavorite":{"id":"67e5504410b1426f9247bb680e5fe0c8","favorite":true}})",
      R"({"SetFavorite":{"id":"{67e55044-10b1-426f-9247-bb680e5fe0c8}","favorite":true}})",
      R"({"SetFavorite":{"id":"urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8","favorite":true}})",
  };
  for (const auto& c : cases) EXPECT_EQ(action_result(c), "ok:" + fav) << c;

  // Enumerations also take the object form with a null value; members in
  // any order come back in declaration order.
  const std::string upsert =
      R"({"UpsertConnection":{"group":"g","auth":{"Password":null},"kind":{"Rdp":null},"user":"u","port":3389,"host":"h","name":"n","id":")" +
      kId + R"("}})";
  EXPECT_EQ(action_result(upsert),
            R"(ok:{"UpsertConnection":{"id":")" + kId +
                R"(","name":"n","host":"h","port":3389,"user":"u","kind":"Rdp","auth":"Password","group":"g"}})");
}

TEST(RemoteActionJson, RefusedForms) {
  const std::string id = "\"" + kId + "\"";
  const std::string variants =
      "expected one of `UpsertConnection`, `RenameConnection`, `SetFavorite`, `DeleteConnection`";
  struct Case {
    std::string input;
    std::string expected;
  };
  auto upsert = [&](const std::string& port, const std::string& kind = "\"Ssh\"",
                    const std::string& auth = "\"Password\"") {
    return R"({"UpsertConnection":{"id":)" + id + R"(,"name":"n","host":"h","port":)" + port + R"(,"user":"","kind":)" +
           kind + R"(,"auth":)" + auth + R"(,"group":""}})";
  };
  std::vector<Case> cases;
  auto add = [&](std::string input, std::string message, std::string marker, int occurrence = 1) {
    std::string expected = message + at_end_of(input, marker, occurrence);
    cases.push_back({std::move(input), std::move(expected)});
  };
  add(upsert("65536"), "invalid value: integer `65536`, expected u16", "65536");
  add(upsert("-1"), "invalid value: integer `-1`, expected u16", ":-1");
  add(upsert("22.0"), "invalid type: floating point `22`, expected u16", "22.0");
  add(upsert("1e2"), "invalid type: floating point `100`, expected u16", "1e2");
  add(upsert("-0"), "invalid type: floating point `-0`, expected u16", "-0");
  add(upsert("\"22\""), "invalid type: string \"22\", expected u16", "\"22\"");
  add(upsert("22", "\"ssh\""), "unknown variant `ssh`, expected one of `Ssh`, `Vnc`, `Rdp`, `Vesk`", "\"ssh\"");
  // Document words and other names are not JSON names.
  add(upsert("22", "\"SSH\""), "unknown variant `SSH`, expected one of `Ssh`, `Vnc`, `Rdp`, `Vesk`", "\"SSH\"");
  add(upsert("22", "\"Telnet\""), "unknown variant `Telnet`, expected one of `Ssh`, `Vnc`, `Rdp`, `Vesk`",
      "\"Telnet\"");
  add(upsert("22", "\"Ssh\"", "\"Public key\""),
      "unknown variant `Public key`, expected one of `Password`, `PublicKey`, `DeviceIdentity`", "\"Public key\"");
  add(upsert("22", "{\"Vnc\":1}"), "invalid type: integer `1`, expected unit", "{\"Vnc\":1");
  add(upsert("22", "\"Vnc\"", "\"Key\""),
      "unknown variant `Key`, expected one of `Password`, `PublicKey`, `DeviceIdentity`", "\"Key\"");
  add(R"({"UpsertConnection":{"id":)" + id + R"(,"port":22,"user":"","kind":"Ssh","auth":"Password","group":""}})",
      "missing field `name`", R"("group":""})");
  add(R"({"SetFavorite":{"id":)" + id + R"(,"id":)" + id + "}}", "duplicate field `id`", "\"id\"", 2);
  add(R"({"SetFavorite":{"id":)" + id + R"(,"id":7}})", "duplicate field `id`", "\"id\"", 2);
  add(R"({"SetFavorite":[)" + id + "]}",
      "invalid length 1, expected struct variant RemoteAction::SetFavorite with 2 elements", "]");
  add(R"({"SetFavorite":[]})", "invalid length 0, expected struct variant RemoteAction::SetFavorite with 2 elements",
      "]");
  add(R"({"DeleteConnection":null})", "invalid type: null, expected struct variant RemoteAction::DeleteConnection",
      "null");
  add(R"({"DeleteConnection":[]})",
      "invalid length 0, expected struct variant RemoteAction::DeleteConnection with 1 element", "]");
  add(R"({"UpsertConnection":[)" + id + R"(,"n"]})",
      "invalid length 2, expected struct variant RemoteAction::UpsertConnection with 8 elements", "]");
  add(R"({"RenameConnection":"x"})",
      "invalid type: string \"x\", expected struct variant RemoteAction::RenameConnection", "\"x\"");
  add(R"({"DeleteConnection":{"id":"67e55044-10b1-426f-9247-bb680e5fe0c"}})",
      "UUID parsing failed: invalid group length in group 4: expected 12, found 11", "0e5fe0c\"");
  add(R"({"DeleteConnection":{"id":"67e55044"}})",
      "UUID parsing failed: invalid length: expected length 32 for simple format, found 8", "67e55044\"");
  add(R"({"DeleteConnection":{"id":"67e55044-10b1"}})", "UUID parsing failed: invalid group count: expected 5, found 2",
      "10b1\"");
  add(R"({"DeleteConnection":{"id":"67e5504g-10b1-426f-9247-bb680e5fe0c8"}})",
      "UUID parsing failed: invalid character: expected an optional prefix of `urn:uuid:` followed by [0-9a-zA-Z], "
      "found `g` at 8",
      "e0c8\"");
  add(R"({"DeleteConnection":{"id":5}})", "invalid type: integer `5`, expected a formatted UUID string", "5");
  add(R"({"SetFavorite":{"id":)" + id + R"(,"favorite":1}})", "invalid type: integer `1`, expected a boolean", ":1");
  add(R"({"Delete":{"id":)" + id + "}}", "unknown variant `Delete`, " + variants, "\"Delete\"");
  add(R"({"deleteconnection":{"id":)" + id + "}}", "unknown variant `deleteconnection`, " + variants,
      "\"deleteconnection\"");
  add(R"("Delete")", "unknown variant `Delete`, " + variants, "\"Delete\"");
  // A second member after the body, and an object without members.
  add(R"({"SetFavorite":{"id":)" + id + R"(,"favorite":true},"x":1})", "expected value", "true}");
  add(R"({})", "expected value", "{}");
  add(R"(5)", "expected value", "5");
  add(R"([])", "expected value", "[");
  add(R"(null)", "expected value", "n");
  add(R"({"SetFavorite":{"id":)" + id + R"(,"favorite":true}} x)", "trailing characters", " x");
  add(R"({"SetFavorite":[)" + id + ",true,1]}", "trailing characters", "true,1");
  add(R"({"SetFavorite":[)" + id + ",true,]}", "trailing comma", "true,]");
  add("\xEF\xBB\xBF"
      R"({"DeleteConnection":{"id":)" +
          id + "}}",
      "expected value", "\xEF");
  add(R"({"RenameConnection":{"id":)" + id + ",\"name\":\"\xff\"}}", "invalid unicode code point", "\xff\"");
  add(R"({"SetFavorite":{"id":)" + id, "EOF while parsing an object", id);
  cases.push_back({R"("DeleteConnection")", "invalid type: unit variant, expected struct variant"});
  cases.push_back({R"("SetFavorite")", "invalid type: unit variant, expected struct variant"});
  cases.push_back({"", "EOF while parsing a value at line 1 column 0"});
  for (const auto& c : cases) EXPECT_EQ(action_result(c.input), c.expected) << c.input;
}

TEST(RemoteActionJson, NestingLimitCountsTheSkippedMember) {
  // The outer object is level 1 and the body level 2: 125 arrays inside a
  // skipped member reach level 127, one more is refused.
  auto text = [&](int depth) {
    return R"({"SetFavorite":{"x":)" + std::string(depth, '[') + std::string(depth, ']') + R"(,"id":")" + kId +
           R"(","favorite":true}})";
  };
  EXPECT_TRUE(RemoteAction::deserialize(text(125)));
  EXPECT_EQ(RemoteAction::deserialize(text(126)).error(), "recursion limit exceeded at line 1 column 146");
}

TEST(RemoteOperationJson, WritesEveryVariant) {
  using Op = RemoteOperation;
  struct Case {
    Op op;
    std::string json;
    OperationKind kind;
  };
  const Case cases[] = {
      {Op::ShowConnections{}, R"("ShowConnections")", OperationKind::View},
      {Op::NewConnectionForm{}, R"("NewConnectionForm")", OperationKind::View},
      {Op::EditConnection{kUuid}, R"({"EditConnection":{"connection_id":")" + kId + R"("}})", OperationKind::View},
      {Op::Connect{kUuid}, R"({"Connect":{"connection_id":")" + kId + R"("}})", OperationKind::Effect},
      {Op::Disconnect{kUuid}, R"({"Disconnect":{"connection_id":")" + kId + R"("}})", OperationKind::Effect},
      {Op::SendText{kUuid, "ls -l\n\"x\""}, R"({"SendText":{"connection_id":")" + kId + R"(","text":"ls -l\n\"x\""}})",
       OperationKind::Effect},
      {Op::SendText{kUuid, ""}, R"({"SendText":{"connection_id":")" + kId + R"(","text":""}})", OperationKind::Effect},
      {Op::TrustSshHostKey{kUuid, {"ssh-ed25519", "SHA256:abc+/="}},
       R"({"TrustSshHostKey":{"connection_id":")" + kId +
           R"(","observed":{"algorithm":"ssh-ed25519","fingerprint":"SHA256:abc+/="}}})",
       OperationKind::Effect},
      {Op::ForgetSshHostKey{kUuid}, R"({"ForgetSshHostKey":{"connection_id":")" + kId + R"("}})",
       OperationKind::Effect},
  };
  for (const auto& c : cases) {
    auto text = c.op.serialize();
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, c.json);
    auto back = Op::deserialize(*text);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(*back, c.op);
    EXPECT_EQ(c.op.operation_kind(), c.kind) << c.json;
  }
}

TEST(RemoteOperationJson, ReadingForms) {
  const std::string id = "\"" + kId + "\"";
  const std::string variants =
      "expected one of `ShowConnections`, `NewConnectionForm`, `EditConnection`, `Connect`, `Disconnect`, "
      "`SendText`, `TrustSshHostKey`, `ForgetSshHostKey`";
  struct Case {
    std::string input;
    std::string expected;
  };
  std::vector<Case> cases = {
      {R"({"ShowConnections":null})", R"(ok:"ShowConnections")"},
      {R"({"NewConnectionForm":null})", R"(ok:"NewConnectionForm")"},
      {R"({"Connect":{"connection_id":)" + id + R"(,"extra":[1,2]}})",
       R"(ok:{"Connect":{"connection_id":)" + id + "}}"},
      {R"({"Connect":[)" + id + "]}", R"(ok:{"Connect":{"connection_id":)" + id + "}}"},
      {R"({"SendText":[)" + id + R"(,""]})", R"(ok:{"SendText":{"connection_id":)" + id + R"(,"text":""}})"},
      {R"({"TrustSshHostKey":{"observed":["a","f"],"connection_id":)" + id + "}}",
       R"(ok:{"TrustSshHostKey":{"connection_id":)" + id + R"(,"observed":{"algorithm":"a","fingerprint":"f"}}})"},
      {R"("EditConnection")", "invalid type: unit variant, expected struct variant"},
      {R"("SendText")", "invalid type: unit variant, expected struct variant"},
  };
  auto add = [&](std::string input, std::string message, std::string marker) {
    std::string expected = message + at_end_of(input, marker);
    cases.push_back({std::move(input), std::move(expected)});
  };
  add(R"({"ShowConnections":{}})", "invalid type: map, expected unit", ":");
  add(R"({"SendText":{"connection_id":)" + id + "}}", "missing field `text`", id + "}");
  add(R"({"SendText":[)" + id + "]}",
      "invalid length 1, expected struct variant RemoteOperation::SendText with 2 elements", "]");
  add(R"({"SendText":{"connection_id":)" + id + R"(,"text":5}})", "invalid type: integer `5`, expected a string", ":5");
  add(R"({"TrustSshHostKey":{"connection_id":)" + id + R"(,"observed":{"algorithm":"ssh-ed25519"}}})",
      "missing field `fingerprint`", "\"ssh-ed25519\"}");
  add(R"({"TrustSshHostKey":{"connection_id":)" + id + R"(,"observed":["a"]}})",
      "invalid length 1, expected struct HostKeyIdentity with 2 elements", "[\"a\"]");
  add(R"({"TrustSshHostKey":{"connection_id":)" + id + R"(,"observed":"k"}})",
      "invalid type: string \"k\", expected struct HostKeyIdentity", "\"k\"");
  add(R"({"connect":{"connection_id":)" + id + "}}", "unknown variant `connect`, " + variants, "\"connect\"");
  add(R"("connect")", "unknown variant `connect`, " + variants, "\"connect\"");
  add(R"({"ShowConnections":null,"Connect":null})", "expected value", "null");
  add(R"({"SendText":null})", "invalid type: null, expected struct variant RemoteOperation::SendText", "null");
  for (const auto& c : cases) EXPECT_EQ(operation_result(c.input), c.expected) << c.input;
}

TEST(UuidField, DescribesFaults) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "invalid length: expected length 32 for simple format, found 0"},
      {"67e55044-10b1-426f-9247-bb680e5fe0c8a", "invalid group length in group 4: expected 12, found 13"},
      {"67e5504-410b1-426f-9247-bb680e5fe0c8", "invalid group length in group 0: expected 8, found 7"},
      {"{67e55044-10b1-426f-9247-bb680e5fe0c8",
       "invalid character: expected an optional prefix of `urn:uuid:` followed by [0-9a-zA-Z], found `{` at 1"},
      {"urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0cé",
       "invalid character: expected an optional prefix of `urn:uuid:` followed by [0-9a-zA-Z], found `é` at 45"},
      {"a-b-c", "invalid group count: expected 5, found 3"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(actions::describe_uuid_error(text), expected) << text;
}

}  // namespace
}  // namespace remote
