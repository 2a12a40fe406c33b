#include "apps/remote/src/ssh/credentials.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "tests/apps/remote/ssh/peers.hpp"

namespace {

using remote::ssh::credentials_from_env;
using remote::ssh::default_identity_paths;
using remote::ssh::KeyCredentials;
using remote::ssh::PasswordCredentials;
using remote::ssh::SshCredentials;

void set_or_unset(const char* name, const char* value) {
  if (value == nullptr) {
    ::unsetenv(name);
  } else {
    ::setenv(name, value, 1);
  }
}

TEST(SshCredentials, PasswordComesOnlyFromItsVariable) {
  struct Case {
    const char* password;
    std::expected<SshCredentials, std::string> expected;
  };
  const Case cases[] = {
      {"s3cret", PasswordCredentials{"s3cret"}},
      {"", PasswordCredentials{""}},  // set but empty is a valid password
      {nullptr, std::unexpected(std::string("no SSH password: set REMOTE_SSH_PASSWORD"))},
      {"\xff\xfe", std::unexpected(std::string("no SSH password: set REMOTE_SSH_PASSWORD"))},  // not UTF-8: unset
  };
  // Key variables play no part in the password method.
  ::setenv("REMOTE_SSH_KEY", "/some/key", 1);
  for (const auto& c : cases) {
    set_or_unset("REMOTE_SSH_PASSWORD", c.password);
    EXPECT_EQ(credentials_from_env(false, {"/nonexistent"}), c.expected) << (c.password ? c.password : "(unset)");
  }
}

TEST(SshCredentials, KeyPathAndPassphrase) {
  sshtest::TempDir dir;
  auto ssh = dir.path() / ".ssh";
  std::filesystem::create_directories(ssh);
  std::ofstream(ssh / "id_ecdsa") << "key";
  std::ofstream(dir.path() / "target") << "key";
  std::filesystem::create_symlink(dir.path() / "target", dir.path() / "link");
  std::filesystem::create_symlink(dir.path() / "missing", dir.path() / "dangling");
  ::setenv("REMOTE_SSH_PASSWORD", "unused", 1);

  // Only id_ecdsa exists: it is taken.
  ::unsetenv("REMOTE_SSH_KEY");
  ::unsetenv("REMOTE_SSH_KEY_PASSPHRASE");
  std::vector<std::filesystem::path> defaults{ssh / "id_ed25519", ssh / "id_ecdsa"};
  EXPECT_EQ(credentials_from_env(true, defaults), SshCredentials(KeyCredentials{ssh / "id_ecdsa", std::nullopt}));

  // Both exist: id_ed25519 wins; the passphrase is read once a path was found.
  std::ofstream(ssh / "id_ed25519") << "key";
  ::setenv("REMOTE_SSH_KEY_PASSPHRASE", "", 1);
  EXPECT_EQ(credentials_from_env(true, defaults), SshCredentials(KeyCredentials{ssh / "id_ed25519", ""}));

  // A link to a file counts, a dangling one does not.
  ::unsetenv("REMOTE_SSH_KEY_PASSPHRASE");
  EXPECT_EQ(credentials_from_env(true, {dir.path() / "dangling", dir.path() / "link"}),
            SshCredentials(KeyCredentials{dir.path() / "link", std::nullopt}));
  EXPECT_EQ(credentials_from_env(true, {dir.path() / "dangling"}),
            (std::expected<SshCredentials, std::string>(
                std::unexpected("no SSH key: set REMOTE_SSH_KEY or add ~/.ssh/id_ed25519"))));

  // REMOTE_SSH_KEY overrides the defaults, whether or not the file exists.
  ::setenv("REMOTE_SSH_KEY", "/no/such/key", 1);
  ::setenv("REMOTE_SSH_KEY_PASSPHRASE", "pass phrase", 1);
  EXPECT_EQ(credentials_from_env(true, defaults), SshCredentials(KeyCredentials{"/no/such/key", "pass phrase"}));
}

TEST(SshCredentials, DefaultIdentityPathsFollowHome) {
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(default_identity_paths(),
            (std::vector<std::filesystem::path>{"/home/someone/.ssh/id_ed25519", "/home/someone/.ssh/id_ecdsa"}));
  ::unsetenv("HOME");
  EXPECT_EQ(default_identity_paths(), (std::vector<std::filesystem::path>{".ssh/id_ed25519", ".ssh/id_ecdsa"}));
}

}  // namespace
