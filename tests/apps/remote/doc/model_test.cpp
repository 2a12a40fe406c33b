#include "apps/remote/src/doc/model.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace remote {
namespace {

TEST(DocConnectionKindWords, EverySpellingOfEveryKind) {
  struct Row {
    ConnectionKind kind;
    int number;
    std::string_view json, word, label;
    std::optional<std::uint16_t> port;
  };
  const Row rows[] = {
      {ConnectionKind::Ssh, 0, "Ssh", "SSH", "SSH", 22},
      {ConnectionKind::Vnc, 1, "Vnc", "VNC", "VNC", 5900},
      {ConnectionKind::Rdp, 2, "Rdp", "RDP", "RDP", 3389},
      {ConnectionKind::Vesk, 3, "Vesk", "Vesk", "Vesk device", std::nullopt},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.word);
    EXPECT_EQ(r.kind.number(), r.number);
    EXPECT_EQ(r.kind.json_name(), r.json);
    EXPECT_EQ(r.kind.as_str(), r.word);
    EXPECT_EQ(r.kind.label(), r.label);
    EXPECT_EQ(r.kind.default_port(), r.port);
    EXPECT_EQ(ConnectionKind::parse(r.word), r.kind);
    std::ostringstream diag;
    diag << r.kind;
    EXPECT_EQ(diag.str(), r.json);
  }
}

TEST(DocConnectionKindWords, OnlyExactWordsSelectAnotherKind) {
  for (std::string_view word : {"ssh", "Vnc", "vnc", "", "rdp", "VESK", "vesk", " VNC", "VNC ", "Vesk device", "Rdp"}) {
    EXPECT_EQ(ConnectionKind::parse(word), ConnectionKind::Ssh) << '"' << word << '"';
  }
}

TEST(DocAuthKindWords, EverySpellingOfEveryMethod) {
  struct Row {
    AuthKind auth;
    int number;
    std::string_view json, word, id;
  };
  const Row rows[] = {
      {AuthKind::Password, 0, "Password", "Password", "password"},
      {AuthKind::PublicKey, 1, "PublicKey", "Public key", "public-key"},
      {AuthKind::DeviceIdentity, 2, "DeviceIdentity", "Device identity", "device-identity"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.word);
    EXPECT_EQ(r.auth.number(), r.number);
    EXPECT_EQ(r.auth.json_name(), r.json);
    EXPECT_EQ(r.auth.as_str(), r.word);
    EXPECT_EQ(r.auth.label(), r.word);
    EXPECT_EQ(r.auth.id_word(), r.id);
    EXPECT_EQ(AuthKind::parse(r.word), r.auth);
  }
  // The JSON name is not a document word.
  for (std::string_view word : {"PublicKey", "DeviceIdentity", "public key", "public-key", "", "Public Key"}) {
    EXPECT_EQ(AuthKind::parse(word), AuthKind::Password) << '"' << word << '"';
  }
}

TEST(DocAuthKindWords, AllowedMethodsPerKind) {
  using A = AuthKind;
  using K = ConnectionKind;
  struct Row {
    K kind;
    std::vector<A> allowed;
  };
  const Row rows[] = {
      {K::Ssh, {A::Password, A::PublicKey}},
      {K::Vnc, {A::Password}},
      {K::Rdp, {A::Password}},
      {K::Vesk, {A::DeviceIdentity}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.kind.as_str());
    const auto span = r.kind.allowed_auths();
    EXPECT_EQ(std::vector<A>(span.begin(), span.end()), r.allowed);
    for (A auth : A::ALL) {
      const bool expected = std::find(r.allowed.begin(), r.allowed.end(), auth) != r.allowed.end();
      EXPECT_EQ(auth.allowed_for(r.kind), expected) << auth.as_str();
    }
  }
}

TEST(DocPresenceWords, ParseIsExactAndFallsBackToUnknown) {
  const std::pair<std::string_view, Presence> rows[] = {
      {"online", Presence::Online},   {"offline", Presence::Offline}, {"unknown", Presence::Unknown},
      {"Online", Presence::Unknown},  {"OFFLINE", Presence::Unknown}, {"", Presence::Unknown},
      {" online", Presence::Unknown},
  };
  for (const auto& [word, presence] : rows) EXPECT_EQ(Presence::parse(word), presence) << '"' << word << '"';
  for (Presence p : Presence::ALL) EXPECT_EQ(Presence::parse(p.as_str()), p);
  EXPECT_EQ(Presence(Presence::Offline).number(), 1);
}

SavedConnection sample() {
  SavedConnection c;
  c.id = *Uuid::parse("67e55044-10b1-426f-9247-bb680e5fe0c8");
  c.name = "Build box";
  c.host = "build.example";
  c.port = 22;
  c.user = "ci";
  c.kind = ConnectionKind::Ssh;
  c.auth = AuthKind::PublicKey;
  c.last_used = "Never";
  c.presence = Presence::Unknown;
  c.group = "Lab";
  c.favorite = true;
  return c;
}

TEST(DocSavedConnectionEquality, EveryFieldCounts) {
  const SavedConnection base = sample();
  EXPECT_EQ(base, sample());
  const std::vector<std::pair<const char*, void (*)(SavedConnection&)>> changes = {
      {"id", [](SavedConnection& c) { c.id = Uuid::nil(); }},
      {"name", [](SavedConnection& c) { c.name += "x"; }},
      {"host", [](SavedConnection& c) { c.host += "x"; }},
      {"port", [](SavedConnection& c) { c.port = 2222; }},
      {"user", [](SavedConnection& c) { c.user.clear(); }},
      {"kind", [](SavedConnection& c) { c.kind = ConnectionKind::Rdp; }},
      {"auth", [](SavedConnection& c) { c.auth = AuthKind::Password; }},
      {"last_used", [](SavedConnection& c) { c.last_used = "just now"; }},
      {"presence", [](SavedConnection& c) { c.presence = Presence::Online; }},
      {"group", [](SavedConnection& c) { c.group.clear(); }},
      {"favorite", [](SavedConnection& c) { c.favorite = false; }},
  };
  for (const auto& [field, change] : changes) {
    SavedConnection other = base;
    change(other);
    EXPECT_NE(base, other) << field;
  }
  EXPECT_NE(std::vector<SavedConnection>{base}, (std::vector<SavedConnection>{base, base}));
}

}  // namespace
}  // namespace remote
