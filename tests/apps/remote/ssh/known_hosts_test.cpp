#include "apps/remote/src/ssh/known_hosts.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/apps/remote/ssh/peers.hpp"
#include "tests/support/without_permission_override.hpp"

namespace {

using namespace remote::ssh;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const HostKeyIdentity kEd{"ssh-ed25519", "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"};
const HostKeyIdentity kEcdsa{"ecdsa-sha2-nistp256", "SHA256:BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB"};

std::string slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::filesystem::path& file, const std::string& text, mode_t mode = 0600) {
  std::ofstream(file, std::ios::binary) << text;
  ::chmod(file.c_str(), mode);
}

ino_t inode(const std::filesystem::path& file) {
  struct stat st {};
  ::stat(file.c_str(), &st);
  return st.st_ino;
}

mode_t mode_bits(const std::filesystem::path& file) {
  struct stat st {};
  ::lstat(file.c_str(), &st);
  return st.st_mode & 07777;
}

// A private store folder inside a fresh temporary folder.
struct Store {
  sshtest::TempDir tmp;
  std::filesystem::path dir = tmp.path() / "private";
  std::filesystem::path file = dir / "known-hosts.json";
  Store() {
    std::filesystem::create_directory(dir);
    ::chmod(dir.c_str(), 0700);
  }
};

TEST(KnownHostsPath, CreatesThePrivateStoreDirectory) {
  sshtest::TempDir tmp;
  ::unsetenv("REMOTE_SSH_KNOWN_HOSTS");
  ::setenv("XDG_STATE_HOME", (tmp.path() / "state").c_str(), 1);
  auto path = known_hosts_path();
  ASSERT_TRUE(path) << path.error();
  EXPECT_EQ(*path, tmp.path() / "state" / "vesk" / "remote" / "known-hosts.json");
  EXPECT_EQ(mode_bits(tmp.path() / "state" / "vesk" / "remote"), 0700u);

  // The first trust writes exactly one pin, 0600, twelve lines, no final newline.
  ASSERT_TRUE(KnownHosts::trust(*path, "example.org", 22, kEd));
  EXPECT_EQ(mode_bits(*path), 0600u);
  EXPECT_EQ(slurp(*path),
            "{\n"
            "  \"entries\": [\n"
            "    {\n"
            "      \"host\": \"example.org\",\n"
            "      \"port\": 22,\n"
            "      \"identity\": {\n"
            "        \"algorithm\": \"ssh-ed25519\",\n"
            "        \"fingerprint\": \"SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\"\n"
            "      }\n"
            "    }\n"
            "  ]\n"
            "}");

  // HOME is the fallback base.
  ::unsetenv("XDG_STATE_HOME");
  ::setenv("HOME", (tmp.path() / "home").c_str(), 1);
  auto from_home = known_hosts_path();
  ASSERT_TRUE(from_home) << from_home.error();
  EXPECT_EQ(*from_home, tmp.path() / "home" / ".local" / "state" / "vesk" / "remote" / "known-hosts.json");

  ::unsetenv("HOME");
  EXPECT_EQ(known_hosts_path(), (std::expected<std::filesystem::path, std::string>(
                                    std::unexpected("no private state directory is available for SSH host trust"))));
}

TEST(KnownHostsPath, RefusesUnsafeLocations) {
  sshtest::TempDir tmp;
  auto open_dir = tmp.path() / "open";
  std::filesystem::create_directory(open_dir);
  ::chmod(open_dir.c_str(), 0755);
  auto private_dir = tmp.path() / "private";
  std::filesystem::create_directory(private_dir);
  ::chmod(private_dir.c_str(), 0700);
  write_file(private_dir / "shared.json", "{}", 0644);
  write_file(private_dir / "real.json", "{}", 0600);
  std::filesystem::create_symlink(private_dir / "real.json", private_dir / "link.json");
  std::filesystem::create_directory(private_dir / "dir.json");
  std::filesystem::create_symlink(private_dir, tmp.path() / "linked-dir");

  const std::string group_or_other = "must not be accessible to group or other users";
  struct Case {
    std::filesystem::path named;
    std::string expected;
  };
  const Case cases[] = {
      {open_dir / "known-hosts.json", "SSH host-key store parent " + group_or_other},
      {private_dir / "shared.json", "SSH host-key store " + group_or_other},
      {private_dir / "link.json", "SSH host-key store must be a regular file"},
      {private_dir / "dir.json", "SSH host-key store must be a regular file"},
      {"known-hosts.json", "SSH host-key store has no private parent directory"},
      {"", "SSH host-key store has no private parent directory"},
      {tmp.path() / "linked-dir" / "known-hosts.json", "SSH host-key store parent must be a real directory"},
      {tmp.path() / "missing" / "known-hosts.json", "No such file or directory"},  // nothing is created
  };
  for (const auto& c : cases) {
    ::setenv("REMOTE_SSH_KNOWN_HOSTS", c.named.c_str(), 1);
    auto path = known_hosts_path();
    ASSERT_FALSE(path) << c.named;
    EXPECT_EQ(path.error(), c.expected) << c.named;
  }
  EXPECT_FALSE(std::filesystem::exists(tmp.path() / "missing"));
  ::setenv("REMOTE_SSH_KNOWN_HOSTS", (private_dir / "real.json").c_str(), 1);
  EXPECT_EQ(known_hosts_path(), private_dir / "real.json");

  // A store directory that is found open is not repaired.
  ::unsetenv("REMOTE_SSH_KNOWN_HOSTS");
  ::setenv("XDG_STATE_HOME", (tmp.path() / "xdg").c_str(), 1);
  std::filesystem::create_directories(tmp.path() / "xdg" / "vesk" / "remote");
  ::chmod((tmp.path() / "xdg" / "vesk" / "remote").c_str(), 0755);
  auto path = known_hosts_path();
  ASSERT_FALSE(path);
  EXPECT_EQ(path.error(), "SSH host-key store parent " + group_or_other);
}

TEST(KnownHosts, TrustAndForgetRules) {
  Store store;
  ASSERT_TRUE(KnownHosts::trust(store.file, "host", 22, kEd));
  ino_t first = inode(store.file);

  // The same identity again writes nothing.
  ASSERT_TRUE(KnownHosts::trust(store.file, "host", 22, kEd));
  EXPECT_EQ(inode(store.file), first);

  // Another key for the same target is refused and leaves the file alone.
  auto refused = KnownHosts::trust(store.file, "host", 22, kEcdsa);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "a different trusted host key already exists; forget it before retrusting");
  EXPECT_EQ(inode(store.file), first);

  // Case and port make separate targets.
  ASSERT_TRUE(KnownHosts::trust(store.file, "HOST", 22, kEcdsa));
  ASSERT_TRUE(KnownHosts::trust(store.file, "host", 2222, kEcdsa));
  auto loaded = KnownHosts::load(store.file);
  ASSERT_TRUE(loaded) << loaded.error();
  EXPECT_EQ(loaded->entries.size(), 3u);
  EXPECT_EQ(loaded->check("host", 22, kEd), std::nullopt);
  EXPECT_EQ(loaded->check("HOST", 22, kEcdsa), std::nullopt);
  EXPECT_EQ(loaded->check("host", 2222, kEcdsa), std::nullopt);
  EXPECT_EQ(loaded->check("host", 22, kEcdsa), (HostKeyObservation{ChangedHostKey{kEd, kEcdsa}}));
  EXPECT_EQ(loaded->check("host", 23, kEcdsa), (HostKeyObservation{UnknownHostKey{kEcdsa}}));

  // Forgetting a target without a pin writes nothing.
  ino_t before = inode(store.file);
  EXPECT_EQ(KnownHosts::forget(store.file, "other", 22), false);
  EXPECT_EQ(inode(store.file), before);

  // After forgetting, the other key can be trusted.
  EXPECT_EQ(KnownHosts::forget(store.file, "host", 22), true);
  ASSERT_TRUE(KnownHosts::trust(store.file, "host", 22, kEcdsa));
  loaded = KnownHosts::load(store.file);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->entries.back(), (KnownHostEntry{"host", 22, kEcdsa}));
  EXPECT_EQ(mode_bits(store.file), 0600u);
}

TEST(KnownHosts, PinIsStoredWhenOnlyTheFolderSyncFails) {
  Store store;
  // Search and write but no read: the file is replaced, the folder cannot be
  // opened for its sync afterwards.
  ::chmod(store.dir.c_str(), 0300);
  std::expected<void, std::string> trusted;
  testsupport::run_without_permission_override([&] { trusted = KnownHosts::trust(store.file, "host", 22, kEd); });
  ::chmod(store.dir.c_str(), 0700);
  EXPECT_TRUE(trusted) << trusted.error();
  EXPECT_EQ(KnownHosts::load(store.file), (KnownHosts{{{"host", 22, kEd}}}));
}

TEST(KnownHosts, ForgetRemovesEveryHandEditedDuplicate) {
  Store store;
  KnownHosts pins{{{"a", 22, kEd}, {"b", 22, kEd}, {"a", 22, kEcdsa}, {"a", 23, kEd}}};
  ASSERT_TRUE(KnownHosts::save(store.file, pins));
  auto loaded = KnownHosts::load(store.file);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->check("a", 22, kEcdsa), (HostKeyObservation{ChangedHostKey{kEd, kEcdsa}}));  // first decides
  EXPECT_EQ(KnownHosts::forget(store.file, "a", 22), true);
  EXPECT_EQ(KnownHosts::load(store.file), (KnownHosts{{{"b", 22, kEd}, {"a", 23, kEd}}}));
}

TEST(KnownHosts, WritesExactJson) {
  EXPECT_EQ(KnownHosts::to_json({}), "{\n  \"entries\": []\n}");
  // Non-ASCII text stays raw, control characters are escaped.
  auto text = KnownHosts::to_json(KnownHosts{{{"h\xc3\xa9\x01\"\n", 65535, kEd}}});
  ASSERT_TRUE(text);
  EXPECT_THAT(*text, HasSubstr("\"host\": \"h\xc3\xa9\\u0001\\\"\\n\",\n"));
  EXPECT_EQ(KnownHosts::from_json(*text), (KnownHosts{{{"h\xc3\xa9\x01\"\n", 65535, kEd}}}));
  // The whole file, byte for byte: two-space indentation, members in this
  // order, every character from U+0000 to U+001F and the two that JSON
  // always escapes, DEL and non-ASCII raw.
  std::string every_control;
  for (char c = 0; c < 0x20; ++c) every_control.push_back(c);
  const KnownHosts two{{{"a\\b\x7f\xe2\x82\xac", 0, {"ssh-rsa", every_control}}, {"b", 22, kEd}}};
  EXPECT_EQ(KnownHosts::to_json(two),
            "{\n"
            "  \"entries\": [\n"
            "    {\n"
            "      \"host\": \"a\\\\b\x7f\xe2\x82\xac\",\n"
            "      \"port\": 0,\n"
            "      \"identity\": {\n"
            "        \"algorithm\": \"ssh-rsa\",\n"
            "        \"fingerprint\": "
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
            "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d"
            "\\u001e\\u001f\"\n"
            "      }\n"
            "    },\n"
            "    {\n"
            "      \"host\": \"b\",\n"
            "      \"port\": 22,\n"
            "      \"identity\": {\n"
            "        \"algorithm\": \"ssh-ed25519\",\n"
            "        \"fingerprint\": \"SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\"\n"
            "      }\n"
            "    }\n"
            "  ]\n"
            "}");
  EXPECT_EQ(KnownHosts::from_json(*KnownHosts::to_json(two)), two);
  // Text that is not UTF-8 is refused rather than written.
  EXPECT_FALSE(KnownHosts::to_json(KnownHosts{{{"\xff", 22, kEd}}}));
}

TEST(KnownHosts, ReadsStrictly) {
  const std::string identity = R"({"algorithm":"ssh-ed25519","fingerprint":"SHA256:x"})";
  struct Good {
    std::string text;
    KnownHosts expected;
  };
  const HostKeyIdentity x{"ssh-ed25519", "SHA256:x"};
  const Good good[] = {
      {R"({"entries":[]})", {}},
      {R"({"entries":[{"host":"h","port":22,"identity":)" + identity + "}]}", {{{"h", 22, x}}}},
      // Unknown keys at every level are skipped.
      {R"({"v":1,"entries":[{"x":[1,{}],"host":"h","port":0,"identity":{"algorithm":"ssh-ed25519","extra":null,"fingerprint":"SHA256:x"}}]})",
       {{{"h", 0, x}}}},
      // Each record may be an array of its fields.
      {R"([[["h",7,["ssh-ed25519","SHA256:x"]]]])", {{{"h", 7, x}}}},
      {" \n{\"entries\":[]} \n", {}},
  };
  for (const auto& c : good) {
    auto loaded = KnownHosts::from_json(c.text);
    ASSERT_TRUE(loaded) << c.text << ": " << loaded.error();
    EXPECT_EQ(*loaded, c.expected) << c.text;
  }

  struct Bad {
    std::string text;
    std::string message_part;
  };
  const Bad bad[] = {
      {R"({"entries":[{"host":"h","identity":)" + identity + "}]}", "missing field `port`"},
      {R"({"entries":[{"host":"h","port":65536,"identity":)" + identity + "}]}", "65536"},
      {R"({"entries":[{"host":"h","port":-1,"identity":)" + identity + "}]}", "-1"},
      {R"({})", "missing field `entries`"},
      {R"({"entries":[],"entries":[]})", "duplicate field `entries`"},
      {R"([])", "struct KnownHosts with 1 element"},
      {R"([[["h",7]]])", "struct KnownHostEntry with 3 elements"},
      {R"([[["h",7,["ssh-ed25519"]]]])", "struct HostKeyIdentity with 2 elements"},
      {R"({"entries":[]} x)", "trailing characters"},
      {R"({"entries":[)", "EOF"},
      {"", "EOF"},
  };
  for (const auto& c : bad) {
    auto loaded = KnownHosts::from_json(c.text);
    ASSERT_FALSE(loaded) << c.text;
    EXPECT_THAT(loaded.error(), HasSubstr(c.message_part)) << c.text;
    EXPECT_THAT(loaded.error(), HasSubstr(" at line ")) << c.text;
  }
}

TEST(KnownHosts, LoadFailuresLeaveThePinsAlone) {
  Store store;
  EXPECT_EQ(KnownHosts::load(store.file), KnownHosts{});  // no file: empty store
  write_file(store.file, R"({"entries":[{"host":"h"}]})");
  ino_t before = inode(store.file);
  auto trusted = KnownHosts::trust(store.file, "h", 22, kEd);
  ASSERT_FALSE(trusted);
  EXPECT_THAT(trusted.error(), HasSubstr("missing field `port`"));
  EXPECT_FALSE(KnownHosts::forget(store.file, "h", 22));
  EXPECT_EQ(inode(store.file), before);
  EXPECT_EQ(slurp(store.file), R"({"entries":[{"host":"h"}]})");

  // A file opened up after the path was resolved is refused at load time.
  write_file(store.file, R"({"entries":[]})", 0640);
  auto loaded = KnownHosts::load(store.file);
  ASSERT_FALSE(loaded);
  EXPECT_EQ(loaded.error(), "SSH host-key store must not be accessible to group or other users");
}

TEST(HostKeyObservation, Sentences) {
  EXPECT_EQ((HostKeyObservation{UnknownHostKey{kEd}}).message("h.example", 2222),
            "SSH host key for h.example:2222 needs explicit trust: ssh-ed25519 "
            "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
  EXPECT_EQ((HostKeyObservation{ChangedHostKey{kEd, kEcdsa}}).message("h", 22),
            "SSH host key changed for h:22. Expected ssh-ed25519 SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA; "
            "received ecdsa-sha2-nistp256 SHA256:BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB. Connection blocked.");
  EXPECT_EQ((HostKeyObservation{HostKeyStoreUnavailable{"broken"}}).message("h", 22),
            "SSH host-key store is unavailable: broken");
}

}  // namespace
