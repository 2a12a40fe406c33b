#include "apps/remote/src/doc/form.hpp"

#include <gtest/gtest.h>

#include "tests/support/scoped_env.hpp"

namespace remote {
namespace {

constexpr std::string_view kPortProblem = "Port must be 1\u201365535";
constexpr std::string_view kValidEndpoint = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
constexpr std::string_view kNotAPoint = "0200000000000000000000000000000000000000000000000000000000000000";

TEST(DocPortText, Parser) {
  const std::pair<std::string_view, std::optional<std::uint16_t>> rows[] = {
      {"22", 22},
      {"+22", 22},
      {" 22 ", 22},
      {"\u00a022\u3000", 22},
      {"00022", 22},
      {"0", 0},
      {"+0", 0},
      {"65535", 65535},
      {"000000000000000000000000000065535", 65535},
      {"65536", std::nullopt},
      {"99999999999999999999999999999999999999", std::nullopt},
      {"-1", std::nullopt},
      {"-0", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"+", std::nullopt},
      {"++22", std::nullopt},
      {"+ 22", std::nullopt},
      {"2 2", std::nullopt},
      {"22a", std::nullopt},
      {"0x16", std::nullopt},
      {"\u0662\u0662", std::nullopt},  // Arabic-Indic digits are not ASCII digits
      {"\uff12\uff12", std::nullopt},  // nor are full-width ones
  };
  for (const auto& [text, value] : rows) EXPECT_EQ(parse_port(text), value) << '"' << text << '"';
}

ConnectionForm form(std::string name, std::string host, std::string port, ConnectionKind kind, AuthKind auth,
                    std::string user = "") {
  ConnectionForm f;
  f.name = std::move(name);
  f.host = std::move(host);
  f.port = std::move(port);
  f.kind = kind;
  f.auth = auth;
  f.user = std::move(user);
  return f;
}

TEST(DocFormProblems, MessagesAndTheirOrder) {
  using K = ConnectionKind;
  using A = AuthKind;
  const std::string endpoint(kValidEndpoint);
  struct Row {
    const char* what;
    ConnectionForm form;
    std::vector<std::string> problems;
  };
  const std::string port_problem(kPortProblem);
  const Row rows[] = {
      {"valid SSH", form("Box", "box", "22", K::Ssh, A::Password), {}},
      {"valid SSH key", form("Box", "box", "+2222", K::Ssh, A::PublicKey), {}},
      {"blank name", form("   ", "box", "22", K::Ssh, A::Password), {"Name is required"}},
      {"blank host", form("Box", " \u00a0", "22", K::Ssh, A::Password), {"Host is required"}},
      {"port 0", form("Box", "box", "0", K::Vnc, A::Password), {port_problem}},
      {"port 65536", form("Box", "box", "65536", K::Vnc, A::Password), {port_problem}},
      {"port -1", form("Box", "box", "-1", K::Rdp, A::Password), {port_problem}},
      {"empty port", form("Box", "box", "", K::Ssh, A::Password), {port_problem}},
      {"everything wrong, in order",
       form("", "", "", K::Ssh, A::DeviceIdentity),
       {"Name is required", "Host is required", port_problem,
        "SSH profiles support password or public-key authentication."}},
      {"VNC with a key",
       form("V", "v", "5900", K::Vnc, A::PublicKey),
       {"VNC profiles support password authentication only."}},
      {"RDP with device identity",
       form("R", "r", "3389", K::Rdp, A::DeviceIdentity),
       {"RDP profiles support password authentication only."}},
      {"Vesk with a password, host not checked",
       form("D", "junk", "", K::Vesk, A::Password),
       {"Vesk device profiles must use Vesk device identity."}},
      {"Vesk: no port problem whatever the port", form("D", endpoint, "junk", K::Vesk, A::DeviceIdentity), {}},
      {"Vesk with an empty host", form("D", "  ", "0", K::Vesk, A::DeviceIdentity), {"Host is required"}},
      {"Vesk host with spaces around", form("D", "  " + endpoint + "\t", "", K::Vesk, A::DeviceIdentity), {}},
      {"Vesk host not an id",
       form("D", "my-device", "", K::Vesk, A::DeviceIdentity),
       {"Vesk device node must be an exact certified endpoint id."}},
      {"Vesk host not a point",
       form("D", std::string(kNotAPoint), "", K::Vesk, A::DeviceIdentity),
       {"Vesk device node must be an exact certified endpoint id."}},
  };
  for (const auto& r : rows) EXPECT_EQ(r.form.problems(), r.problems) << r.what;
}

// Texts of a stored profile over the field limit (an older document, another
// device) keep the form from saving them; lengths count the saved, trimmed
// text in bytes, not characters.
TEST(DocFormProblems, FieldLimits) {
  using K = ConnectionKind;
  using A = AuthKind;
  const std::string at_limit(kMaxFieldBytes, 'x');
  const std::string over = at_limit + "x";
  // 341 three-byte characters are 1,023 bytes; one more is over.
  std::string euros;
  for (int i = 0; i < 341; ++i) euros += "\u20ac";
  struct Row {
    const char* what;
    ConnectionForm form;
    std::vector<std::string> problems;
  };
  auto with_group = [](ConnectionForm f, std::string group) {
    f.group = std::move(group);
    return f;
  };
  const Row rows[] = {
      {"everything at the limit",
       with_group(form(at_limit, at_limit, "22", K::Ssh, A::Password, at_limit), at_limit),
       {}},
      {"spaces around a name at the limit are trimmed",
       form("  " + at_limit + " ", "h", "22", K::Ssh, A::Password),
       {}},
      {"multi-byte name just under", form(euros, "h", "22", K::Ssh, A::Password), {}},
      {"multi-byte name one character over",
       form(euros + "\u20ac", "h", "22", K::Ssh, A::Password),
       {"Name must be at most 1,024 bytes"}},
      {"every field over, in field order",
       with_group(form(over, over, "0", K::Ssh, A::Password, over), over),
       {"Name must be at most 1,024 bytes", "Host must be at most 1,024 bytes", std::string(kPortProblem),
        "User must be at most 1,024 bytes", "Group must be at most 1,024 bytes"}},
      {"a VNC form drops its user, so its length does not matter",
       form("V", "v", "5900", K::Vnc, A::Password, over),
       {}},
  };
  for (const auto& r : rows) EXPECT_EQ(r.form.problems(), r.problems) << r.what;

  const std::pair<std::string, std::optional<std::string>> names[] = {
      {"", "Name is required"},
      {" \u3000\t", "Name is required"},
      {over, "Name must be at most 1,024 bytes"},
      {at_limit, std::nullopt},
      {" a ", std::nullopt},
  };
  for (const auto& [name, problem] : names) EXPECT_EQ(name_problem(name), problem) << name.size();
}

TEST(DocFormConversion, ToConnection) {
  using K = ConnectionKind;
  using A = AuthKind;
  const Uuid id = Uuid::new_v4();
  struct Row {
    const char* what;
    ConnectionForm form;
    std::uint16_t port;
    std::string user;
  };
  const Row rows[] = {
      {"SSH keeps the trimmed user", form("n", "h", " +2222 ", K::Ssh, A::PublicKey, "  root\u00a0"), 2222, "root"},
      {"RDP keeps the trimmed user", form("n", "h", "3390", K::Rdp, A::Password, " admin "), 3390, "admin"},
      {"VNC drops the user", form("n", "h", "5901", K::Vnc, A::Password, "someone"), 5901, ""},
      {"Vesk drops the user and the port", form("n", "h", "22", K::Vesk, A::DeviceIdentity, "x"), 0, ""},
      {"letters give the VNC default", form("n", "h", "abc", K::Vnc, A::Password), 5900, ""},
      {"letters give the RDP default", form("n", "h", "abc", K::Rdp, A::Password), 3389, ""},
      {"empty gives the SSH default", form("n", "h", "", K::Ssh, A::Password), 22, ""},
      {"0 stays 0", form("n", "h", "0", K::Ssh, A::Password), 0, ""},
  };
  for (const auto& r : rows) {
    ConnectionForm f = r.form;
    f.name = " \u3000" + f.name + " ";
    f.host = "\t" + f.host + "\n";
    f.group = " g ";
    const SavedConnection c = f.to_connection(id);
    EXPECT_EQ(c.id, id) << r.what;
    EXPECT_EQ(c.name, r.form.name) << r.what;
    EXPECT_EQ(c.host, r.form.host) << r.what;
    EXPECT_EQ(c.group, "g") << r.what;
    EXPECT_EQ(c.port, r.port) << r.what;
    EXPECT_EQ(c.user, r.user) << r.what;
    EXPECT_EQ(c.kind, r.form.kind) << r.what;
    EXPECT_EQ(c.auth, r.form.auth) << r.what;
    EXPECT_EQ(c.last_used, "Never") << r.what;
    EXPECT_EQ(c.presence, Presence::Unknown) << r.what;
    EXPECT_FALSE(c.favorite) << r.what;
  }
}

TEST(DocFormConversion, DefaultAndFromConnection) {
  const ConnectionForm blank;
  EXPECT_EQ(blank.name, "");
  EXPECT_EQ(blank.host, "");
  EXPECT_EQ(blank.user, "");
  EXPECT_EQ(blank.group, "");
  EXPECT_EQ(blank.port, "22");
  EXPECT_EQ(blank.kind, ConnectionKind::Ssh);
  EXPECT_EQ(blank.auth, AuthKind::Password);

  SavedConnection c;
  c.name = "n";
  c.host = "h";
  c.user = "u";
  c.group = "g";
  c.port = 0;
  c.kind = ConnectionKind::Rdp;
  c.auth = AuthKind::Password;
  c.favorite = true;
  c.last_used = "yesterday";
  ConnectionForm expected = form("n", "h", "0", ConnectionKind::Rdp, AuthKind::Password, "u");
  expected.group = "g";
  EXPECT_EQ(ConnectionForm::from_connection(c), expected);
  c.port = 5900;
  EXPECT_EQ(ConnectionForm::from_connection(c).port, "5900");
}

TEST(DocInputFields, WordsAndPlaceholdersInOrder) {
  const std::tuple<InputField, int, std::string_view, std::string_view> rows[] = {
      {InputField::Search, 0, "search", "Search machines\u2026  ( / )"},
      {InputField::Name, 1, "name", "My machine"},
      {InputField::Host, 2, "host", "hostname or IP"},
      {InputField::Port, 3, "port", "Port"},
      {InputField::User, 4, "user", "username"},
      {InputField::Group, 5, "group", "group (optional)"},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const auto& [field, number, word, placeholder] = rows[i];
    EXPECT_EQ(InputField::ALL[i], field);
    EXPECT_EQ(field.number(), number);
    EXPECT_EQ(field.as_str(), word);
    EXPECT_EQ(field.placeholder(), placeholder);
  }
  EXPECT_EQ(kVeskHostPlaceholder, "certified Vesk endpoint id");
}

class DocReadinessTest : public testing::Test {
 protected:
  ScopedEnv live_{"REMOTE_LIVE_SESSIONS"};

  static SavedConnection profile(ConnectionKind kind, AuthKind auth, std::string host) {
    SavedConnection c;
    c.kind = kind;
    c.auth = auth;
    c.host = std::move(host);
    return c;
  }
};

TEST_F(DocReadinessTest, ByKindAndEnvironment) {
  using K = ConnectionKind;
  using A = AuthKind;
  using R = Readiness;
  const std::string endpoint(kValidEndpoint);
  struct Row {
    const char* what;
    SavedConnection profile;
    R when_unset, when_set;
  };
  const Row rows[] = {
      {"SSH", profile(K::Ssh, A::Password, "h"), R::CapabilityRequired, R::Ready},
      {"SSH key", profile(K::Ssh, A::PublicKey, "h"), R::CapabilityRequired, R::Ready},
      {"SSH device identity", profile(K::Ssh, A::DeviceIdentity, "h"), R::CapabilityRequired, R::InvalidProfile},
      {"VNC", profile(K::Vnc, A::Password, "h"), R::CapabilityRequired, R::Ready},
      {"VNC key", profile(K::Vnc, A::PublicKey, "h"), R::CapabilityRequired, R::InvalidProfile},
      {"RDP", profile(K::Rdp, A::Password, "h"), R::BackendUnavailable, R::BackendUnavailable},
      {"RDP key", profile(K::Rdp, A::PublicKey, "h"), R::BackendUnavailable, R::BackendUnavailable},
      {"Vesk", profile(K::Vesk, A::DeviceIdentity, endpoint), R::Ready, R::Ready},
      {"Vesk without host", profile(K::Vesk, A::DeviceIdentity, ""), R::Ready, R::Ready},
      {"Vesk bad host", profile(K::Vesk, A::DeviceIdentity, "node-1"), R::InvalidProfile, R::InvalidProfile},
      {"Vesk password", profile(K::Vesk, A::Password, endpoint), R::InvalidProfile, R::InvalidProfile},
  };
  for (const auto& r : rows) {
    live_.unset();
    EXPECT_FALSE(live_sessions_enabled());
    EXPECT_EQ(r.profile.readiness(), r.when_unset) << r.what;
    live_.set("");  // the empty value counts as set
    EXPECT_TRUE(live_sessions_enabled());
    EXPECT_EQ(r.profile.readiness(), r.when_set) << r.what;
  }
}

TEST_F(DocReadinessTest, InvalidUtf8ValueCountsAsUnset) {
  live_.set("\xff");
  EXPECT_FALSE(live_sessions_enabled());
  EXPECT_EQ(ConnectionKind(ConnectionKind::Ssh).readiness(), Readiness::CapabilityRequired);
  live_.set("1");
  EXPECT_EQ(ConnectionKind(ConnectionKind::Ssh).readiness(), Readiness::Ready);
}

TEST(DocReadinessMessages, SentencePerReadinessAndKind) {
  using K = ConnectionKind;
  using R = Readiness;
  const std::tuple<R, K, std::string_view> rows[] = {
      {R::Ready, K::Ssh, "This transport is ready to connect."},
      {R::Ready, K::Vesk, "This transport is ready to connect."},
      {R::CapabilityRequired, K::Ssh, "SSH is installed, but this build has not been granted live network access."},
      {R::CapabilityRequired, K::Vnc, "VNC is installed, but this build has not been granted live network access."},
      {R::CapabilityRequired, K::Rdp, "This transport needs a capability before it can connect."},
      {R::CapabilityRequired, K::Vesk, "This transport needs a capability before it can connect."},
      {R::BackendUnavailable, K::Rdp, "RDP profiles are preserved, but this Vesk build has no RDP client backend."},
      {R::BackendUnavailable, K::Ssh, "RDP profiles are preserved, but this Vesk build has no RDP client backend."},
      {R::InvalidProfile, K::Vesk, "This saved connection has incompatible target or authentication settings."},
      {R::InvalidProfile, K::Ssh, "This saved connection has incompatible target or authentication settings."},
  };
  for (const auto& [readiness, kind, sentence] : rows) {
    EXPECT_EQ(readiness.message(kind), sentence) << readiness << " " << kind;
  }
}

TEST(DocTargetCheck, ExplainsInvalidProfiles) {
  SavedConnection c;
  c.kind = ConnectionKind::Ssh;
  c.auth = AuthKind::DeviceIdentity;
  EXPECT_EQ(c.validate_target(), "SSH profiles support password or public-key authentication.");
  c.auth = AuthKind::PublicKey;
  EXPECT_EQ(c.validate_target(), std::nullopt);
  c.kind = ConnectionKind::Vesk;
  c.auth = AuthKind::DeviceIdentity;
  c.host = "25NJQAMCWEFLPVKL73J4SZAHHIHOC4XT3KTCGJNPAINGR5YHKENA";
  EXPECT_EQ(c.validate_target(), std::nullopt);
  c.host = "25NJQAMCWEFLPVKL73J4SZAHHIHOC4XT3KTCGJNPAINGR5YHKENB";
  EXPECT_EQ(c.validate_target(), "Vesk device node must be an exact certified endpoint id.");
}

}  // namespace
}  // namespace remote
