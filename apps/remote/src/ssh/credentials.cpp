#include "apps/remote/src/ssh/credentials.hpp"

#include <sys/stat.h>

#include <cstdlib>

#include "platform/vesk_ui/utf8/utf8.hpp"

namespace remote::ssh {

std::optional<std::string> env_text(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  std::string text(value);
  if (!vesk_ui::utf8::is_valid(text)) return std::nullopt;
  return text;
}

std::vector<std::filesystem::path> default_identity_paths() {
  // HOME is taken as raw bytes.
  const char* home_env = std::getenv("HOME");
  std::filesystem::path home = home_env != nullptr ? std::filesystem::path(home_env) : std::filesystem::path();
  std::vector<std::filesystem::path> paths;
  for (const char* name : {"id_ed25519", "id_ecdsa"}) paths.push_back(home / ".ssh" / name);
  return paths;
}

std::expected<SshCredentials, std::string> credentials_from_env(bool public_key,
                                                                const std::vector<std::filesystem::path>& candidates) {
  if (!public_key) {
    auto password = env_text("REMOTE_SSH_PASSWORD");
    if (!password) return std::unexpected(std::string("no SSH password: set REMOTE_SSH_PASSWORD"));
    return PasswordCredentials{std::move(*password)};
  }

  std::optional<std::filesystem::path> path;
  if (auto named = env_text("REMOTE_SSH_KEY")) {
    path = std::filesystem::path(*named);
  } else {
    for (const auto& candidate : candidates) {
      struct stat st {};
      if (::stat(candidate.c_str(), &st) == 0) {  // follows links: a dangling one does not count
        path = candidate;
        break;
      }
    }
  }
  if (!path) return std::unexpected(std::string("no SSH key: set REMOTE_SSH_KEY or add ~/.ssh/id_ed25519"));
  return KeyCredentials{std::move(*path), env_text("REMOTE_SSH_KEY_PASSPHRASE")};
}

}  // namespace remote::ssh
