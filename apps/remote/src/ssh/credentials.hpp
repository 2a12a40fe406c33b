#pragma once
// SSH secrets, gathered from the environment afresh for every session and
// never stored.

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace remote::ssh {

struct PasswordCredentials {
  std::string password;  // may be empty
  friend bool operator==(const PasswordCredentials&, const PasswordCredentials&) = default;
};

struct KeyCredentials {
  std::filesystem::path path;
  std::optional<std::string> passphrase;  // nullopt: none; "" is an empty passphrase
  friend bool operator==(const KeyCredentials&, const KeyCredentials&) = default;
};

using SshCredentials = std::variant<PasswordCredentials, KeyCredentials>;

// $HOME/.ssh/id_ed25519 then $HOME/.ssh/id_ecdsa (relative to the working
// directory when HOME is unset).
std::vector<std::filesystem::path> default_identity_paths();

// Exactly one method: the password from REMOTE_SSH_PASSWORD, or a key from
// REMOTE_SSH_KEY or the first candidate that exists, with the passphrase from
// REMOTE_SSH_KEY_PASSPHRASE. The key file itself is read later by the worker.
std::expected<SshCredentials, std::string> credentials_from_env(bool public_key,
                                                                const std::vector<std::filesystem::path>& candidates);

// The value of an environment variable that is set and valid UTF-8.
std::optional<std::string> env_text(const char* name);

}  // namespace remote::ssh
